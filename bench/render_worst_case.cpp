// render-worst-case BLOCKS: renders that many blocks of five held voices with every
// costly feature on and prints a fingerprint of the output, so that instruction counts
// of two lengths can be subtracted to give the cost per block.
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <string_view>

#include "engine/block_renderer.h"
#include "engine/voice_pool.h"
#include "tests/support/engine_fixture.h"

using namespace morvane;

int main(int argc, char** argv) {
    int blocks = 0;
    std::string_view arg = argc == 2 ? argv[1] : "";
    auto [end, error] = std::from_chars(arg.data(), arg.data() + arg.size(), blocks);
    if (argc != 2 || error != std::errc{} || end != arg.data() + arg.size() || blocks < 0) {
        std::fprintf(stderr, "usage: render-worst-case BLOCKS\n");
        return 2;
    }

    auto s = fixture::MakeSynth();
    fixture::SetWorstCaseSound(*s);
    for (int key : fixture::kWorstCaseChord)
        NoteOn(*s, key);

    std::int16_t block[kBlockSamples];
    std::uint64_t fingerprint = fixture::kFingerprintStart;
    for (int b = 0; b < blocks; ++b) {
        RenderBlock(*s, block);
        fingerprint = fixture::Fingerprint(block, kBlockSamples, fingerprint);
    }
    std::printf("%d blocks, fingerprint %016llx\n", blocks,
                static_cast<unsigned long long>(fingerprint));
    return 0;
}
