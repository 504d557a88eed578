#include "audio/realtime_player.h"

#include <algorithm>
#include <span>

#include "engine/block_renderer.h"

namespace morvane {

Result<std::unique_ptr<RealtimePlayer>> RealtimePlayer::Create(const SoundParameters& sound,
                                                               Pace pace, int deviceRate) {
    Result<Resampler> resampler = Resampler::Create(deviceRate);
    if (!resampler)
        return resampler.error();
    std::unique_ptr<RealtimePlayer> player(new RealtimePlayer(pace, std::move(*resampler)));
    InitialiseRunningState(*player->state_);
    static_cast<SoundParameters&>(*player->state_) = sound;
    return player;
}

RealtimePlayer::RealtimePlayer(Pace pace, Resampler resampler)
    : pace_(pace), resampler_(std::move(resampler)), state_(std::make_unique<SynthState>()) {}

void RealtimePlayer::ApplyInput(const InputEvent& input) {
    const KeyColourChanges changes = morvane::ApplyInput(*state_, input);
    if ((changes.Resting.any() || changes.Sounding.any()) && !colours_.Push(changes))
        colourOverflows_.fetch_add(1, std::memory_order_relaxed);
}

void RealtimePlayer::Apply() {
    if (pace_ != Pace::Live)
        return;
    while (std::optional<Event> event = events_.Pop()) {
        if (event->kind == Event::Kind::Input)
            ApplyInput(event->input);
    }
}

// A scored player takes events until one allows a block; what came before it belongs
// before that block, as a score's commands come before its render.
bool RealtimePlayer::FillBlock() {
    if (pace_ == Pace::Live) {
        Apply();
        return true;
    }
    while (blocksAllowed_ == 0) {
        std::optional<Event> event = events_.Pop();
        if (!event) {
            starved_.fetch_add(1, std::memory_order_relaxed);
            return false;
        }
        switch (event->kind) {
        case Event::Kind::Input:
            ApplyInput(event->input);
            break;
        case Event::Kind::Render:
            blocksAllowed_ = event->blocks;
            break;
        case Event::Kind::End:
            ended_.store(true, std::memory_order_release);
            return false;
        }
    }
    --blocksAllowed_;
    return true;
}

bool RealtimePlayer::NextBlock(std::int16_t* block) {
    if (stopped_.load(std::memory_order_acquire)) {
        ended_.store(true, std::memory_order_release);
        return false;
    }
    if (ended_.load(std::memory_order_relaxed) || !FillBlock())
        return false;
    const BlockResult result = RenderBlock(*state_, block);
    if (result.EndedKeys.any() && !colours_.Push(KeyColourChanges{KeySet{}, result.EndedKeys}))
        colourOverflows_.fetch_add(1, std::memory_order_relaxed);
    if (recording_.load(std::memory_order_acquire)) {
        Block copy;
        std::copy_n(block, kBlockSamples, copy.begin());
        if (!recorded_.Push(copy))
            recordOverflows_.fetch_add(1, std::memory_order_relaxed);
    }
    return true;
}

template <typename Sample> void RealtimePlayer::RenderAny(Sample* out, int frames) noexcept {
    const std::uint64_t start = framesOut_.load(std::memory_order_relaxed);
    int done = 0;
    while (done < frames) {
        if (blockUsed_ == kBlockSamples) {
            blockIsSound_ = NextBlock(block_.data());
            if (!blockIsSound_)
                block_.fill(0);
            blockUsed_ = 0;
        }
        const Resampler::Progress progress =
            resampler_.Process(std::span<const std::int16_t>(block_).subspan(blockUsed_),
                               std::span<Sample>(out + done, frames - done));
        blockUsed_ += progress.consumed;
        done += progress.produced;
        if (blockIsSound_ && blockUsed_ == kBlockSamples)
            lastSoundFrame_.store(start + done + resampler_.DelayFrames(),
                                  std::memory_order_relaxed);
        if (progress.consumed == 0 && progress.produced == 0) {
            std::fill(out + done, out + frames, Sample{});
            break;
        }
    }
    framesOut_.store(start + frames, std::memory_order_release);
}

void RealtimePlayer::Render(std::int16_t* out, int frames) noexcept {
    RenderAny(out, frames);
}

void RealtimePlayer::Render(float* out, int frames) noexcept {
    RenderAny(out, frames);
}

} // namespace morvane
