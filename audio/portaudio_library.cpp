#include "audio/portaudio_library.h"

#include <alsa/asoundlib.h>

#include <string>

#include "audio/silenced_stderr.h"

namespace morvane {

namespace {

// ALSA reports every device it probes and fails to open; none of that concerns the user.
void IgnoreAlsaError(const char*, int, const char*, int, const char*, ...) {}

} // namespace

Error PortAudioError(PaError error) {
    std::string reason = Pa_GetErrorText(error);
    const PaHostErrorInfo* host = Pa_GetLastHostErrorInfo();
    if (error == paUnanticipatedHostError && host && host->errorText && *host->errorText)
        reason += std::string(" (") + host->errorText + ")";
    return Error{reason};
}

// The JACK client library prints its failed probe for a server straight to stderr,
// which no handler reaches.
Status InitialiseQuietly() {
    snd_lib_error_set_handler(IgnoreAlsaError);
    PaError initialised = paNoError;
    RunWithStderrSilenced([&] { initialised = Pa_Initialize(); });
    if (initialised != paNoError)
        return PortAudioError(initialised);
    return {};
}

} // namespace morvane
