#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "audio/realtime_output.h"
#include "base/result.h"

namespace morvane {

enum class Latency {
    Low,     // render in the device's callback, a few milliseconds ahead
    Classic, // PortAudio in blocks of 441, five rendered ahead behind half a second of silence
};

// How a program plays: the latency mode and, for the low one, the audio interface.
struct AudioChoice {
    Latency latency = Latency::Low;
    RealtimeOutputOptions output;
};

// The values of --latency ("low", "classic") and --audio ("auto", "portaudio", "jack",
// "pipewire").
std::optional<Latency> ParseLatency(std::string_view text);
std::optional<AudioApi> ParseAudioApi(std::string_view text);

// The classic mode plays through PortAudio's default device alone: a choice of
// interface with it would be ignored, so it is refused.
Status CheckAudioChoice(const AudioChoice& choice);

} // namespace morvane
