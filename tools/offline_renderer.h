#pragma once

#include <filesystem>
#include <iosfwd>
#include <memory>
#include <optional>

#include "engine/parameters.h"
#include "engine/startup.h"
#include "engine/synth_state.h"
#include "settings/whole_file.h"
#include "tools/score.h"

namespace morvane {

// The synthesizer as the program stands right after its start-up, without window or
// audio device, played by a score.
class OfflineRenderer {
public:
    OfflineRenderer();

    // The program's start-up as far as the sound goes: that of a fresh installation
    // (tuning 440.0 Hz, every preset key at its default), or with the tuning and the
    // preset slot of a settings file, loaded exactly as the program loads them.
    void StartFresh();
    [[nodiscard]] std::optional<FileError> StartWith(const std::filesystem::path& settingsFile,
                                                     int presetSlot);

    // Plays the commands in order and appends every rendered block to out as signed
    // 16-bit little-endian samples. Stops early when out fails; the caller checks it.
    void Play(const score::Score& score, std::ostream& out);

    const SynthState& State() const { return *state_; }
    const SoundControls& Controls() const { return controls_; }

private:
    void Apply(const score::Command& command, std::ostream& out);
    void RenderBlocks(std::uint64_t count, std::ostream& out);

    std::unique_ptr<SynthState> state_; // too large for the stack
    SoundControls controls_;
};

} // namespace morvane
