#pragma once

// What the plugin and its panel say to each other, and the key of the instance's saved
// state: plain URIs, shared by the plugin, the UI library and the panel process, so that
// neither side needs the other's toolkit to agree on a name.
//
// Notes from the panel go in through the plugin's MIDI input as MIDI events (velocity
// 127), so they play exactly like MIDI from the host; control values travel as ordinary
// control-port writes both ways. Everything else is an atom:Object whose type is one of
// the messages below, its properties atom:Int unless said.
namespace morvane::lv2::ui {

// The plugin's message ports, appended after every other port: `control` takes the
// panel's messages, `notify` carries the plugin's to the panel. Both are atom sequences.
inline constexpr const char* kControlSymbol = "control";
inline constexpr const char* kNotifySymbol = "notify";

// --- panel to plugin (the control port) ---
// Arms MIDI learn for a slider: { slider }.
inline constexpr const char* kLearn = "urn:morvane:Learn";
// Learn waits for a controller no more (Esc): {}.
inline constexpr const char* kCancelLearn = "urn:morvane:CancelLearn";
// The controller moves nothing from now on: { controller }, 0..127, or 128 for channel
// aftertouch.
inline constexpr const char* kForget = "urn:morvane:Forget";
// The default bindings back: {}.
inline constexpr const char* kRestoreBindings = "urn:morvane:RestoreBindings";
// The panel has just opened: the plugin sends Bindings and Keys now. {}.
inline constexpr const char* kDescribe = "urn:morvane:Describe";
// The Ctrl key went down (held 1) or up (held 0): it holds the LFO gate as the program's
// does, from the next block boundary. { held }.
inline constexpr const char* kCtrl = "urn:morvane:Ctrl";

// --- plugin to panel (the notify port), sent when they change and after Describe ---
// { sounding }: the on-screen keys whose notes sound.
inline constexpr const char* kKeys = "urn:morvane:Keys";
// { text }: the instance's bindings in the versioned text its state keeps.
inline constexpr const char* kBindings = "urn:morvane:Bindings";
// { slider, controller, taken_from }: learn bound the controller to the slider, taking it
// from the slider taken_from (-1 when it moved no slider).
inline constexpr const char* kLearnt = "urn:morvane:Learnt";
// { slider }: learn waits for a controller for the slider; -1 when learn ended without one.
inline constexpr const char* kLearnArmed = "urn:morvane:LearnArmed";

// --- properties ---
// atom:Int, a ControlId.
inline constexpr const char* kSlider = "urn:morvane:slider";
// atom:Int, a controller 0..127, or 128 for channel aftertouch.
inline constexpr const char* kController = "urn:morvane:controller";
// atom:Int, a ControlId, or -1.
inline constexpr const char* kTakenFrom = "urn:morvane:taken_from";
// atom:Long, bit k set while on-screen key k (0..40, lowest first) sounds.
inline constexpr const char* kSounding = "urn:morvane:sounding";
// atom:String.
inline constexpr const char* kText = "urn:morvane:text";
// atom:Int, 0 or 1.
inline constexpr const char* kHeld = "urn:morvane:held";

// The instance's state: its controller bindings as one atom:String in the versioned text.
inline constexpr const char* kBindingsState = "urn:morvane:bindings";

} // namespace morvane::lv2::ui
