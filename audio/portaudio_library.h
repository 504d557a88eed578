#pragma once

#include <portaudio.h>

#include "base/result.h"

namespace morvane {

// PortAudio's text for the error, and the host API's own where PortAudio only says that
// the host failed.
Error PortAudioError(PaError error);

// Pa_Initialize without the some eighty lines of ALSA and JACK complaints it prints
// while it probes the devices.
Status InitialiseQuietly();

} // namespace morvane
