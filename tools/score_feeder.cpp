#include "tools/score_feeder.h"

#include <utility>
#include <variant>

namespace morvane {

namespace {

using Event = PlayerEvent;

template <typename... Handlers> struct Overloaded : Handlers... { using Handlers::operator()...; };

} // namespace

ScoreFeeder::ScoreFeeder(OfflineRenderer& renderer, const score::Score& score)
    : renderer_(renderer), score_(score), sentSound_(renderer.State()) {}

bool ScoreFeeder::Feed(RealtimePlayer& player) {
    while (!ended_) {
        if (!unsent_)
            unsent_ = NextEvent().value_or(EndOfScore{});
        if (!player.Send(*unsent_))
            return false;
        ended_ = std::holds_alternative<EndOfScore>(*unsent_);
        unsent_.reset();
    }
    return true;
}

std::optional<Event> ScoreFeeder::SoundIfChanged() {
    const SoundParameters& sound = renderer_.State();
    if (sound == sentSound_)
        return std::nullopt;
    sentSound_ = sound;
    return Command{SetSound{sound}};
}

// The next event to send, or nothing at the end of the score.
std::optional<Event> ScoreFeeder::NextEvent() {
    if (waiting_)
        return std::exchange(waiting_, std::nullopt);
    while (nextCommand_ < score_.commands.size()) {
        const score::Command& command = score_.commands[nextCommand_++];
        std::optional<Event> event;
        std::visit(Overloaded{
                       [&](const score::SetControl&) { renderer_.Apply(command); },
                       [&](const score::SetTuning&) { renderer_.Apply(command); },
                       [&](const score::MoveControl&) { renderer_.Apply(command); },
                       [&](const score::LoadPreset&) { renderer_.Apply(command); },
                       [&](const score::KeyDown& c) { event = Command{KeyDown{c.key}}; },
                       [&](const score::KeyUp& c) { event = Command{KeyUp{c.key}}; },
                       [&](const score::SetCtrl& c) {
                           event = Command{HoldLfo{LfoHolder::CtrlKey, c.held}};
                       },
                       [&](const score::Render& c) { event = RenderBlocks{c.blocks}; },
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
