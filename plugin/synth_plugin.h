#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include <lv2/atom/atom.h>
#include <lv2/core/lv2.h>
#include <lv2/urid/urid.h>

#include "audio/realtime_player.h"
#include "base/result.h"
#include "plugin/ports.h"

namespace morvane::lv2 {

// One instance of the instrument in a host. The real-time player does the work, as it
// does for the standalone's low-latency mode: MIDI events are read from the host's
// sequence as the render reaches their frames, port changes go in as control events for
// the next block boundary, and the host's buffer is filled at its rate. Instances share nothing but
// the engine's read-only tables.
class SynthPlugin {
public:
    // Fails for a host without urid:map or a rate the resampler cannot reach.
    static Result<std::unique_ptr<SynthPlugin>> Create(double rate,
                                                       const LV2_Feature* const* features);

    // Starts afresh, as instantiated: the sound the standalone starts with, no key down,
    // and every port taken to be where that sound has it. A host calls it before the first
    // run and after a deactivate.
    Status Activate();
    void ConnectPort(std::uint32_t port, void* data) noexcept;
    // The host's run(): never allocates, locks, logs or makes a system call.
    void Run(std::uint32_t frames) noexcept;

private:
    SynthPlugin(int rate, LV2_URID midiEvent, int latencyFrames);
    void FollowControlPorts() noexcept;
    void FollowTuningPort() noexcept;
    void FollowPlayingPorts() noexcept;
    void DropPanelActions() noexcept;

    int rate_;
    LV2_URID midiEvent_;
    int latencyFrames_;
    std::unique_ptr<RealtimePlayer> player_;
    const LV2_Atom_Sequence* midiIn_ = nullptr;
    float* out_ = nullptr;
    float* latency_ = nullptr;
    std::array<const float*, kControlCount> controls_{};
    const float* tuning_ = nullptr;
    // Where each port was when the player last took it: only a move of the port reaches
    // the sound, so a port left where it was does not undo what a MIDI controller did.
    std::array<int, kControlCount> ports_{};
    int tuningPort_ = kDefaultTuning;
    std::array<const float*, kPlayingPortCount> playing_{};
    std::array<int, kPlayingPortCount> playingPorts_{};
};

} // namespace morvane::lv2
