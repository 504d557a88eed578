#pragma once

#include <optional>
#include <string>

namespace morvane {

// How the audio path is doing, for the user to see: the output in use and its device,
// its rate and buffer, the latency it adds, whether the thread that feeds it runs
// real-time, and the underruns since it opened.
struct OutputHealth {
    std::string output; // "JACK", "PipeWire" or "PortAudio"
    std::string device; // the client, node or device
    int rate = 0;
    int bufferFrames = 0;
    int latencyFrames = 0;
    // Not known before the first callback has named its thread.
    std::optional<bool> realtime;
    long underruns = 0;
};

} // namespace morvane
