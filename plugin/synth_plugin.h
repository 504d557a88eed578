#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include <lv2/atom/atom.h>
#include <lv2/atom/forge.h>
#include <lv2/core/lv2.h>
#include <lv2/log/logger.h>
#include <lv2/state/state.h>
#include <lv2/urid/urid.h>

#include "audio/realtime_player.h"
#include "base/result.h"
#include "midi/versioned_bindings.h"
#include "plugin/latest_value.h"
#include "plugin/ports.h"

namespace morvane::lv2 {

// One instance of the instrument in a host. The real-time player does the work, as it
// does for the standalone's low-latency mode: MIDI events are read from the host's
// sequence as the render reaches their frames, port changes go in as control events for
// the next block boundary, and the host's buffer is filled at its rate. Instances share nothing but
// the engine's read-only tables.
//
// The instance's controller bindings are its own, kept with the host's session through the
// state interface; its panel arms learn and forgets controllers through the control port and
// hears of the keys sounding and of the bindings through the notify port.
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

    // The state interface. Save may run while Run does; restore never does.
    LV2_State_Status Save(LV2_State_Store_Function store, LV2_State_Handle handle);
    LV2_State_Status Restore(LV2_State_Retrieve_Function retrieve, LV2_State_Handle handle);

private:
    // The URIs the plugin reads and writes, mapped once.
    struct Uris {
        explicit Uris(const LV2_URID_Map& map);
        LV2_URID midiEvent, atomObject, atomBlank, atomInt, atomString, atomSequence;
        LV2_URID learn, cancelLearn, forget, restoreBindings, describe, ctrl;
        LV2_URID keys, bindings, learnt, learnArmed;
        LV2_URID slider, controller, takenFrom, sounding, text, held;
        LV2_URID bindingsState;
    };
    // Learnt and LearnArmed, waiting for room in the notify port.
    struct PanelNote {
        LV2_URID type;
        int slider;
        int controller;
        int takenFrom;
    };
    static constexpr std::size_t kPanelNoteCapacity = 16;

    SynthPlugin(int rate, LV2_URID_Map& map, LV2_Log_Log* log, int latencyFrames);
    void FollowControlPorts() noexcept;
    void FollowTuningPort() noexcept;
    void FollowPlayingPorts() noexcept;
    void ReadPanelMessages() noexcept;
    void ReadPanelMessage(const LV2_Atom_Object& message) noexcept;
    void FollowCtrl() noexcept;
    void FollowPlayer() noexcept;
    void UseBindings(const ControllerBindings& bindings) noexcept;
    void Note(const PanelNote& note) noexcept;
    void WriteNotify() noexcept;
    // One event into the notify port, whole, or nothing when it does not fit.
    void StartForging(LV2_URID type, LV2_Atom_Forge_Frame& frame) noexcept;
    bool FinishForging(LV2_Atom_Forge_Frame& frame) noexcept;
    bool ForgeNote(const PanelNote& note) noexcept;
    bool ForgeBindings() noexcept;
    bool ForgeKeys() noexcept;

    int rate_;
    Uris uris_;
    LV2_Log_Logger logger_{};
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
    // The panel's Ctrl key as it last said, and as the player has it: it holds the LFO gate.
    bool ctrlWanted_ = false;
    bool ctrlHeld_ = false;

    const LV2_Atom_Sequence* control_ = nullptr;
    LV2_Atom_Sequence* notify_ = nullptr;
    std::uint32_t notifyCapacity_ = 0; // of the sequence's body, in this run
    // The bindings as the player has them after the last run, the audio thread's own; and
    // the same as a save may read them while the audio thread runs.
    ControllerBindings bindings_ = ControllerBindings::Defaults();
    LatestValue<ControllerBindings> savedBindings_{bindings_};
    // The on-screen keys sounding, and what the panel is still to be told.
    KeySet sounding_;
    bool keysToSend_ = false;
    bool bindingsToSend_ = false;
    std::array<PanelNote, kPanelNoteCapacity> notes_{};
    std::size_t noteCount_ = 0;
    // One notify event is forged here whole before it goes into the host's buffer, so that
    // one that does not fit leaves no part of itself there.
    LV2_Atom_Forge forge_{};
    std::array<std::uint64_t, (kVersionedBindingsCapacity + 256) / sizeof(std::uint64_t)> forged_{};
    std::array<char, kVersionedBindingsCapacity> bindingsText_{};
    // The longest bindings text and every note waiting (well under 128 bytes each) fit the
    // buffer the bundle asks hosts for, with the keys.
    static_assert(sizeof(forged_) * 2 + kPanelNoteCapacity * 128 <= kNotifyBufferBytes);
};

} // namespace morvane::lv2
