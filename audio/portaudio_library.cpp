#include "audio/portaudio_library.h"

#include <alsa/asoundlib.h>
#include <jack/jack.h>

#include <string>

namespace morvane {

namespace {

// ALSA reports every device it probes and fails to open; none of that concerns the user.
void IgnoreAlsaError(const char*, int, const char*, int, const char*, ...) {}
void IgnoreJackMessage(const char*) {}

} // namespace

Error PortAudioError(PaError error) {
    std::string reason = Pa_GetErrorText(error);
    const PaHostErrorInfo* host = Pa_GetLastHostErrorInfo();
    if (error == paUnanticipatedHostError && host && host->errorText && *host->errorText)
        reason += std::string(" (") + host->errorText + ")";
    return Error{reason};
}

void QuietenSoundLibraries() {
    snd_lib_error_set_handler(IgnoreAlsaError);
    jack_set_error_function(IgnoreJackMessage);
    jack_set_info_function(IgnoreJackMessage);
}

// The libraries' handlers, not a silenced standard error: the device is opened again while
// other threads run, and their messages must still reach the user.
Status InitialiseQuietly() {
    QuietenSoundLibraries();
    if (PaError initialised = Pa_Initialize(); initialised != paNoError)
        return PortAudioError(initialised);
    return {};
}

} // namespace morvane
