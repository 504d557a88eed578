#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>

#include "base/result.h"
#include "engine/parameters.h"
#include "engine/startup.h"
#include "engine/synth_state.h"
#include "tools/score.h"

namespace morvane {

// The synthesizer as the program stands right after its start-up, without window or
// audio device, played by the commands of a score (a ScorePlayer steps through them).
class OfflineRenderer {
public:
    OfflineRenderer();

    // The program's start-up as far as the sound goes: that of a fresh installation
    // (tuning 440.0 Hz, every preset key at its default), or with the tuning and the
    // preset slot of a settings file, loaded exactly as the program loads them.
    void StartFresh();
    Status StartWith(const std::filesystem::path& settingsFile, int presetSlot);

    // Carries out one command of a score, between two blocks, and returns how many blocks
    // it asks for: the count of a render command, 0 for any other.
    std::uint64_t Apply(const score::Command& command);
    // Renders the next block of kBlockSamples samples.
    void RenderNextBlock(std::int16_t* block);

    const SynthState& State() const { return *state_; }
    const SoundControls& Controls() const { return controls_; }

private:
    std::unique_ptr<SynthState> state_; // too large for the stack
    SoundControls controls_;
};

} // namespace morvane
