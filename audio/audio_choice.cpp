#include "audio/audio_choice.h"

namespace morvane {

std::optional<Latency> ParseLatency(std::string_view text) {
    if (text == "low")
        return Latency::Low;
    if (text == "classic")
        return Latency::Classic;
    return std::nullopt;
}

std::optional<AudioApi> ParseAudioApi(std::string_view text) {
    if (text == "auto")
        return AudioApi::Auto;
    if (text == "portaudio")
        return AudioApi::PortAudio;
    if (text == "jack")
        return AudioApi::Jack;
    if (text == "pipewire")
        return AudioApi::PipeWire;
    return std::nullopt;
}

Status CheckAudioChoice(const AudioChoice& choice) {
    if (choice.latency == Latency::Classic &&
        (choice.output.api != AudioApi::Auto || !choice.output.connect))
        return Error{"--audio and --no-connect go with --latency=low only"};
    return {};
}

} // namespace morvane
