#pragma once

#include <portaudio.h>

#include <optional>

#include "base/result.h"

namespace morvane {

// PortAudio's text for the error, and the host API's own where PortAudio only says that
// the host failed.
Error PortAudioError(PaError error);

// Points the ALSA and JACK libraries' complaints about servers and devices they probe and
// fail to reach at handlers that drop them: none of that concerns the user, and the
// returned reasons sum it up.
void QuietenSoundLibraries();

// Pa_Initialize without the some eighty lines of ALSA and JACK complaints it prints
// while it probes the devices.
Status InitialiseQuietly();

// Where ALSA's default device is its PulseAudio plugin, the ALSA name of the same plugin
// leaving underflows to the sound server: the plugin's own handling tells the stream of
// one, and PortAudio's recovery then drops the samples it has just been given and the
// plugin starts a new server stream, which fills from empty before it plays, so a short
// starvation is heard as a longer silence with a piece of the sound missing. Left to the
// server, the sound plays on after the silence, whole. Nothing where the default is
// another device.
std::optional<const char*> PulseDeviceKeepingUnderflows();

} // namespace morvane
