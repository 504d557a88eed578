#pragma once

#include <cstdint>
#include <optional>
#include <type_traits>
#include <variant>

#include "engine/command.h"
#include "midi/controller_bindings.h"
#include "midi/midi_actions.h"
#include "midi/midi_message.h"

// What reaches the real-time player through its queue: the engine's commands, and the
// little that is the player's own. And what it sends back to the panel.
namespace morvane {

// A scored player renders this many more blocks; what was sent before them applies
// before the first of them.
struct RenderBlocks {
    std::uint64_t blocks;
    friend bool operator==(const RenderBlocks&, const RenderBlocks&) = default;
};

// A scored player renders this many more samples, ending anywhere in a block; what was sent
// before them applies before the first of them, what is sent after them at the sample that
// follows.
struct RenderSamples {
    std::uint64_t samples;
    friend bool operator==(const RenderSamples&, const RenderSamples&) = default;
};

// In a score made of MIDI: a message of the channel listened to applies here. Whatever it
// does (an unbound controller does nothing), the stream is cut at this sample, as live
// MIDI cuts it.
struct MidiMessageHere {
    friend bool operator==(const MidiMessageHere&, const MidiMessageHere&) = default;
};

// A scored player has rendered its last block: one the score ends inside is rendered to
// its end.
struct EndOfScore {
    friend bool operator==(const EndOfScore&, const EndOfScore&) = default;
};

// MIDI learn: the next learnable controller that moves is bound to the control.
struct ArmLearn {
    ControlId id;
    friend bool operator==(const ArmLearn&, const ArmLearn&) = default;
};

// The control follows no controller from now on.
struct ForgetController {
    ControlId id;
    friend bool operator==(const ForgetController&, const ForgetController&) = default;
};

// MIDI learn waits for a controller no more.
struct CancelLearn {
    friend bool operator==(const CancelLearn&, const CancelLearn&) = default;
};

// The MIDI channel listened to (1..16, every channel when empty) and the controllers that
// move sliders, as the MIDI window sets them. The keys MIDI holds let go when the channel
// changes: their note-offs would no longer be heard.
struct MidiSetup {
    std::optional<int> channel;
    ControllerBindings bindings;
    friend bool operator==(const MidiSetup&, const MidiSetup&) = default;
};

// The panel's whole sound, with how many panel actions the panel had carried out when it
// took it: a sound taken before the panel showed every slider MIDI moved is stale, and
// would move them back for a moment.
struct PanelSound {
    SetSound sound;
    std::uint64_t panelActionsSeen;
    friend bool operator==(const PanelSound&, const PanelSound&) = default;
};

// A MidiMessage goes through the player's own mapping.
using PlayerEvent =
    std::variant<Command, RenderBlocks, RenderSamples, MidiMessageHere, EndOfScore, MidiMessage,
                 ArmLearn, ForgetController, CancelLearn, MidiSetup, PanelSound>;

// Events cross the queue to the audio callback by copy: plain bytes, the biggest a whole
// sound with its stamp.
static_assert(std::is_trivially_copyable_v<PlayerEvent>);
static_assert(sizeof(PlayerEvent) <= sizeof(PanelSound) + sizeof(std::uint64_t));

// What MIDI did that the panel shows and keeps: a slider moved (as a drag would), a
// preset loaded (as F1..F8 do outside save mode), a controller learnt, the bend range set
// by RPN 0 (as its box in the MIDI window would).
using PanelAction = std::variant<SetControl, LoadProgram, ControllerLearnt, SetPlaying>;

} // namespace morvane
