#include "audio/portaudio_library.h"

#include <alsa/asoundlib.h>
#include <jack/jack.h>

#include <string>
#include <string_view>

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

// A definition of our own, added to the configuration ALSA has read (and reads again
// after PortAudio ends): the default's name cannot carry the setting.
std::optional<const char*> PulseDeviceKeepingUnderflows() {
    static constexpr char kName[] = "morvane_pulse";
    static constexpr std::string_view kDefinition =
        "pcm.morvane_pulse { type pulse handle_underrun false }";
    if (snd_config_update() < 0 || !snd_config)
        return std::nullopt;
    snd_config_t* node = nullptr;
    const char* type = nullptr;
    if (snd_config_search(snd_config, "pcm.default.type", &node) < 0 ||
        snd_config_get_string(node, &type) < 0 || std::string_view(type) != "pulse")
        return std::nullopt;
    if (snd_config_search(snd_config, "pcm.morvane_pulse", &node) == 0)
        return kName;
    snd_input_t* input = nullptr;
    if (snd_input_buffer_open(&input, kDefinition.data(),
                              static_cast<ssize_t>(kDefinition.size())) < 0)
        return std::nullopt;
    const int loaded = snd_config_load(snd_config, input);
    snd_input_close(input);
    if (loaded < 0)
        return std::nullopt;
    return kName;
}

} // namespace morvane
