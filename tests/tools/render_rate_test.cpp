#include "tools/render_rate.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "audio/resampler.h"
#include "audio/wav_recorder.h"
#include "tests/tools/render_fixture.h"

using namespace morvane;
using namespace morvane::render_fixture;

namespace {

// One note held for a quarter second at 120 beats a minute, 480 ticks a quarter.
const std::string kMidiNote = std::string("MThd\0\0\0\6\0\0\0\1\1\xE0"
                                          "MTrk\0\0\0\15"
                                          "\0\x90\x45\x64"
                                          "\x81\x70\x80\x45\0"
                                          "\0\xFF\x2F\0",
                                          35);

std::vector<std::int16_t> Samples(const std::string& bytes) {
    std::vector<std::int16_t> samples(bytes.size() / 2);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<std::int16_t>(static_cast<std::uint8_t>(bytes[2 * i]) |
                                               static_cast<std::uint8_t>(bytes[2 * i + 1]) << 8);
    return samples;
}

std::uint32_t U32At(const std::string& bytes, std::size_t offset) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | static_cast<std::uint8_t>(bytes[offset + i]);
    return v;
}

// What a device at rate gets from the engine's samples and the silence after them, the
// whole stream resampled in one call.
std::vector<std::int16_t> ResampledAtOnce(std::vector<std::int16_t> engine, int rate) {
    Result<Resampler> resampler = Resampler::Create(rate);
    engine.resize(engine.size() + kBlockSamples);
    std::vector<std::int16_t> out(engine.size() * rate / kSampleRate + kBlockSamples);
    Resampler::Progress done = resampler->Process(engine, out);
    out.resize(done.produced);
    return out;
}

} // namespace

// A render at another rate is the resampler's output of the render at the engine's rate,
// cut at the engine's last sample and the resampler's delay after it.
TEST(RenderRate, IsTheResampledEngineRender) {
    struct Case {
        const char* score;
        int rate;
        std::uint64_t delay; // of the resampler at rate, in frames
    };
    const Case cases[] = {
        {"chord.txt", 22050, 0}, {"chord.txt", 44100, 80}, {"chord.txt", 48000, 87},
        {"chord.txt", 8000, 41}, {"note.mid", 48000, 87},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.score) + " at " + std::to_string(c.rate));
        ScratchDirectory dir;
        WriteBytes(dir / "chord.txt", kChordScore);
        WriteBytes(dir / "note.mid", kMidiNote);
        const ToolRun engine = RenderTool({dir / c.score, "-"});
        const std::string rate = "--rate=" + std::to_string(c.rate);
        const ToolRun raw = RenderTool({rate, dir / c.score, "-"});
        const ToolRun wav = RenderTool({rate, dir / c.score, dir / "out.wav"});
        ASSERT_EQ(engine.status, kExitSuccess) << engine.errors;
        ASSERT_EQ(raw.status, kExitSuccess) << raw.errors;
        ASSERT_EQ(wav.status, kExitSuccess) << wav.errors;

        const std::uint64_t engineSamples = engine.output.size() / 2;
        const std::uint64_t frames =
            (engineSamples * c.rate + kSampleRate - 1) / kSampleRate + c.delay;
        ASSERT_EQ(raw.output.size(), 2 * frames);
        std::vector<std::int16_t> expected = ResampledAtOnce(Samples(engine.output), c.rate);
        ASSERT_GE(expected.size(), frames);
        expected.resize(frames);
        EXPECT_TRUE(Samples(raw.output) == expected);

        const std::string file = ReadBytes(dir / "out.wav");
        ASSERT_EQ(file.size(), kWavHeaderBytes + raw.output.size());
        EXPECT_EQ(U32At(file, 24), static_cast<std::uint32_t>(c.rate));
        EXPECT_EQ(U32At(file, 28), static_cast<std::uint32_t>(2 * c.rate));
        EXPECT_EQ(U32At(file, 42), raw.output.size());
        EXPECT_TRUE(file.substr(kWavHeaderBytes) == raw.output);
    }
}
