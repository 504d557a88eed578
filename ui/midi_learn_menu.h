#pragma once

#include <QMenu>

#include <functional>
#include <optional>

namespace morvane {

// A slider's context menu, the program's and the plugin panel's alike: "MIDI学習" arms a
// learn, "MIDI学習を解除" lets the bound controller go (only while one is bound), and, not
// to be chosen, the controller bound to it, named as the MIDI window's list names it: CC7,
// or AT for channel aftertouch. The caller owns it.
QMenu* MidiLearnMenu(QWidget* parent, std::optional<int> boundController,
                     const std::function<void()>& learn, const std::function<void()>& forget);

} // namespace morvane
