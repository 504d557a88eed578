#include "audio/resampler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <sys/time.h>
#include <vector>

#include "engine/synth_state.h"

using namespace morvane;

namespace {

constexpr int kBlocks = 50;

// Full-scale noise from a fixed generator, so clipping and every bit of the path count.
std::vector<std::int16_t> Noise(int samples) {
    std::vector<std::int16_t> noise(samples);
    std::uint32_t x = 12345;
    for (auto& sample : noise) {
        x = x * 1664525u + 1013904223u;
        sample = static_cast<std::int16_t>(x >> 16);
    }
    return noise;
}

// Resamples the whole input, offering it in pieces whose sizes cycle through inSizes
// with output room cycling through outSizes, as mismatched host and device buffers do.
template <typename Sample>
std::vector<Sample> InPieces(Resampler& resampler, const std::vector<std::int16_t>& in,
                             std::vector<int> inSizes, std::vector<int> outSizes) {
    std::vector<Sample> out;
    std::vector<Sample> room(*std::max_element(outSizes.begin(), outSizes.end()));
    std::size_t taken = 0;
    for (std::size_t call = 0; taken < in.size(); ++call) {
        std::size_t offered =
            std::min<std::size_t>(inSizes[call % inSizes.size()], in.size() - taken);
        auto progress = resampler.Process(std::span(in).subspan(taken, offered),
                                          std::span(room).first(outSizes[call % outSizes.size()]));
        taken += progress.consumed;
        out.insert(out.end(), room.begin(), room.begin() + progress.produced);
    }
    return out;
}

struct RateCase {
    int deviceRate;
    int framesPerBlock;
    int delayFrames;
};

// Names the case in test listings.
void PrintTo(const RateCase& c, std::ostream* os) {
    *os << c.deviceRate << "Hz";
}

class ResamplerAtRate : public testing::TestWithParam<RateCase> {};

// The device's buffer and what a host reading it at a random moment has seen there: the
// largest magnitude and how many times it looked.
constexpr int kDeviceBufferFrames = 2048;
float deviceBuffer[kDeviceBufferFrames];
volatile float largestSeen = 0;
volatile sig_atomic_t looks = 0;

void LookAtDeviceBuffer(int) {
    float largest = largestSeen;
    for (const float& sample : deviceBuffer)
        largest = std::max(largest, std::abs(*static_cast<const volatile float*>(&sample)));
    largestSeen = largest;
    looks = looks + 1;
}

} // namespace

TEST_P(ResamplerAtRate, GivesTheSameSamplesHoweverTheStreamIsCutAndReportsItsDelay) {
    const RateCase rate = GetParam();
    const auto in = Noise(kBlocks * kBlockSamples);

    // Engine blocks, one call each, with room to spare: a fixed count per block.
    auto blockwise = Resampler::Create(rate.deviceRate);
    ASSERT_TRUE(blockwise.ok()) << blockwise.error().message;
    EXPECT_EQ(blockwise->DelayFrames(), rate.delayFrames);
    std::vector<float> reference;
    std::vector<float> room(2 * rate.framesPerBlock);
    for (int block = 0; block < kBlocks; ++block) {
        auto progress = blockwise->Process(
            std::span(in).subspan(block * kBlockSamples, kBlockSamples), std::span(room));
        ASSERT_EQ(progress.consumed, kBlockSamples);
        ASSERT_EQ(progress.produced, rate.framesPerBlock) << "block " << block;
        reference.insert(reference.end(), room.begin(), room.begin() + progress.produced);
    }

    auto cut = Resampler::Create(rate.deviceRate);
    ASSERT_TRUE(cut.ok());
    EXPECT_EQ(InPieces<float>(*cut, in, {1, 7, 441, 1000, 64}, {13, 1024, 1, 256}), reference);

    // The int16 output is the float output rounded to the nearest step, clipped.
    auto asInt = Resampler::Create(rate.deviceRate);
    ASSERT_TRUE(asInt.ok());
    auto whole = InPieces<std::int16_t>(*asInt, in, {kBlockSamples}, {1024});
    auto cutInt = Resampler::Create(rate.deviceRate);
    ASSERT_TRUE(cutInt.ok());
    EXPECT_EQ(InPieces<std::int16_t>(*cutInt, in, {300, 5}, {2000, 3}), whole);
    ASSERT_EQ(whole.size(), reference.size());
    for (std::size_t i = 0; i < whole.size(); ++i) {
        float scaled = std::clamp(reference[i] * 32768.0f, -32768.0f, 32767.0f);
        ASSERT_LE(std::abs(scaled - whole[i]), 0.5f) << "frame " << i;
    }
    if (rate.deviceRate == kSampleRate) {
        EXPECT_EQ(whole, in);
        for (std::size_t i = 0; i < in.size(); ++i)
            ASSERT_EQ(reference[i], in[i] / 32768.0f);
    }

    // An impulse comes out at its peak after the reported delay.
    auto impulse = Resampler::Create(rate.deviceRate);
    ASSERT_TRUE(impulse.ok());
    std::vector<std::int16_t> click(kBlockSamples);
    click[0] = 32767;
    auto response = InPieces<float>(*impulse, click, {kBlockSamples}, {1024});
    auto peak = std::max_element(response.begin(), response.end()) - response.begin();
    EXPECT_NEAR(peak, rate.delayFrames, 1);
}

INSTANTIATE_TEST_SUITE_P(Rates, ResamplerAtRate,
                         testing::Values(RateCase{22050, 441, 0}, RateCase{44100, 882, 80},
                                         RateCase{48000, 960, 87}),
                         [](const auto& info) { return std::to_string(info.param.deviceRate); });

TEST(Resampler, RefusesARateThatIsNone) {
    auto resampler = Resampler::Create(0);
    ASSERT_FALSE(resampler.ok());
    EXPECT_EQ(resampler.error().message, "sample rate 0 Hz is not a rate");
}

// A host reads its buffer when its cycle comes, even while a late callback still fills it:
// what is there must be the final sound, within full scale, never a sample on its way.
// An interval timer plays that host, looking at the buffer a thousand times while the
// resampler fills it over and over with a loud sine (one a full-scale wave would overshoot
// between its samples).
TEST(Resampler, TheDeviceBufferOnlyEverHoldsFinalSamples) {
    std::vector<std::int16_t> sine(kBlockSamples);
    for (std::size_t i = 0; i < sine.size(); ++i)
        sine[i] = static_cast<std::int16_t>(30000 * std::sin(2 * M_PI * 10 * i / kBlockSamples));
    for (const int rate : {44100, 48000, 96000}) {
        auto resampler = Resampler::Create(rate);
        ASSERT_TRUE(resampler.ok());
        largestSeen = 0;
        looks = 0;
        struct sigaction look {};
        look.sa_handler = LookAtDeviceBuffer;
        ASSERT_EQ(sigaction(SIGALRM, &look, nullptr), 0);
        const itimerval every250us{{0, 250}, {0, 250}};
        ASSERT_EQ(setitimer(ITIMER_REAL, &every250us, nullptr), 0);
        // A sanitizer may hold signals back: a few seconds at most, whatever it looked.
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (looks < 1000 && std::chrono::steady_clock::now() < giveUp)
            resampler->Process(std::span(sine), std::span(deviceBuffer));
        const itimerval stop{};
        setitimer(ITIMER_REAL, &stop, nullptr);
        signal(SIGALRM, SIG_DFL);
        EXPECT_GT(looks, 0) << rate;
        EXPECT_LE(largestSeen, 1.0f) << rate << " Hz";
    }
}

// An engine driven into clipping gives a full-scale square wave, whose resampled peaks ring
// a quarter over full scale: the device gets the engine's range and no more, in float as
// in int16.
TEST(Resampler, AnOverloadedStreamStaysWithinFullScale) {
    std::vector<std::int16_t> square(20 * kBlockSamples);
    for (std::size_t i = 0; i < square.size(); ++i)
        square[i] = (i / 30) % 2 ? -32768 : 32767;
    for (const int rate : {44100, 48000, 96000}) {
        auto resampler = Resampler::Create(rate);
        ASSERT_TRUE(resampler.ok());
        const std::vector<float> out = InPieces<float>(*resampler, square, {kBlockSamples}, {7});
        const auto [lowest, highest] = std::minmax_element(out.begin(), out.end());
        EXPECT_EQ(*lowest, -1.0f) << rate;
        EXPECT_EQ(*highest, 32767 / 32768.0f) << rate;
    }
}
