#pragma once

#include <portaudio.h>

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

} // namespace morvane
