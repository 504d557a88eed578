#include "tools/score_feeder.h"

#include <utility>
#include <variant>

namespace morvane {

namespace {

using Event = RealtimePlayer::Event;

template <typename... Handlers> struct Overloaded : Handlers... { using Handlers::operator()...; };

} // namespace

ScoreFeeder::ScoreFeeder(OfflineRenderer& renderer, const score::Score& score)
    : renderer_(renderer), score_(score), sentSound_(renderer.State()) {}

bool ScoreFeeder::Feed(RealtimePlayer& player) {
    while (!ended_) {
        if (!unsent_)
            unsent_ = NextEvent().value_or(Event::End());
        if (!player.Send(*unsent_))
            return false;
        ended_ = unsent_->kind == Event::Kind::End;
        unsent_.reset();
    }
    return true;
}

std::optional<Event> ScoreFeeder::SoundIfChanged() {
    const SoundParameters& sound = renderer_.State();
    if (sound == sentSound_)
        return std::nullopt;
    sentSound_ = sound;
    return Event::Of(InputEvent::Sound(sound));
}

// The next event to send, or nothing at the end of the score.
std::optional<Event> ScoreFeeder::NextEvent() {
    if (waiting_)
        return std::exchange(waiting_, std::nullopt);
    while (nextCommand_ < score_.commands.size()) {
        const score::Command& command = score_.commands[nextCommand_++];
        std::optional<Event> event;
        std::visit(
            Overloaded{
                [&](const score::SetControl&) { renderer_.Apply(command); },
                [&](const score::SetTuning&) { renderer_.Apply(command); },
                [&](const score::KeyDown& c) { event = Event::Of(InputEvent::KeyDown(c.key)); },
                [&](const score::KeyUp& c) { event = Event::Of(InputEvent::KeyUp(c.key)); },
                [&](const score::SetCtrl& c) { event = Event::Of(InputEvent::Ctrl(c.held)); },
                [&](const score::Render& c) { event = Event::Render(c.blocks); },
            },
            command);
        if (!event)
            continue;
        if (std::optional<Event> sound = SoundIfChanged()) {
            waiting_ = event;
            return sound;
        }
        return event;
    }
    return std::nullopt;
}

} // namespace morvane
