// What a JACK server at another rate must receive from the engine: raw s16le samples at
// 22050 Hz on standard input, the same stream through the program's resampler on standard
// output as JACK's native float32 samples.
//
//     morvane-e2e-resample RATE < engine.raw > device.f32

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <span>
#include <string>
#include <vector>

#include "audio/resampler.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: morvane-e2e-resample RATE < S16LE > FLOAT32\n");
        return 2;
    }
    auto resampler = morvane::Resampler::Create(std::atoi(argv[1]));
    if (!resampler) {
        std::fprintf(stderr, "morvane-e2e-resample: %s\n", resampler.error().message.c_str());
        return 1;
    }
    std::vector<std::int16_t> in;
    std::int16_t piece[4096];
    while (std::size_t n = std::fread(piece, sizeof piece[0], std::size(piece), stdin))
        in.insert(in.end(), piece, piece + n);

    // Nothing is flushed: the last few samples stay inside the filter, as they do on the
    // device until the blocks that follow push them out.
    std::vector<float> out(4096);
    std::span<const std::int16_t> rest(in);
    while (!rest.empty()) {
        auto done = resampler->Process(rest, std::span<float>(out));
        if (std::fwrite(out.data(), sizeof out[0], done.produced, stdout) !=
            static_cast<std::size_t>(done.produced)) {
            std::perror("morvane-e2e-resample");
            return 1;
        }
        rest = rest.subspan(done.consumed);
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}
