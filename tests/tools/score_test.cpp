#include "tools/score.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "render_fixture.h"

using namespace morvane;
using namespace morvane::score;

namespace {

Result<Score> Read(const std::string& text) {
    std::istringstream in(text);
    return ReadScore(in, "score");
}

} // namespace

TEST(Score, TheChordReadsAsItsCommands) {
    auto read = Read(render_fixture::kChordScore);
    ASSERT_TRUE(read.ok()) << read.error().message;
    const Score& score = *read;
    ASSERT_EQ(score.events.size(), 10u);
    EXPECT_EQ(score.blocks, 150u);
    EXPECT_EQ(score.events[0], PlayerEvent(Command{SetControl{EchoDepth, 60}}));
    EXPECT_EQ(score.events[4], PlayerEvent(Command{KeyDown{11}}));
    EXPECT_EQ(score.events[6], PlayerEvent(Command{KeyUp{4}}));
    EXPECT_EQ(score.events[9], PlayerEvent(RenderBlocks{100}));
}

TEST(Score, BlanksCommentsAndTheCaseOfNamesAreFree) {
    auto read = Read("\n   # a comment line\n\t param  wave1_Octave\t0  # HIGH\r\n"
                     "param tuning 4302\nctrl 1\nrender 0\n"
                     "on 3 1\non 4\nbend -8192\nparam bend_range 24\nparam VELOCITY_AMP 0\n");
    ASSERT_TRUE(read.ok()) << read.error().message;
    const Score& score = *read;
    const std::vector<PlayerEvent> expected = {
        Command{SetControl{Wave1Octave, 0}},
        Command{SetTuning{4302}},
        Command{HoldLfo{LfoHolder::CtrlKey, true}},
        RenderBlocks{0},
        Command{KeyDown{3, 1}},
        Command{KeyDown{4, 127}},
        Command{BendPitch{-8192}},
        Command{SetPlaying{PlayingControl::BendRange, 24}},
        Command{SetPlaying{PlayingControl::VelocityToVolume, 0}},
    };
    EXPECT_EQ(score.events, expected);
    EXPECT_EQ(score.blocks, 0u);
}

// Waits count in samples; the block the score ends in counts whole.
TEST(Score, WaitsAreSamplesAndTheLastBlockCountsWhole) {
    const struct {
        const char* text;
        std::uint64_t blocks;
    } cases[] = {
        {"wait 441\n", 1}, {"wait 442\n", 2}, {"wait 1\nrender 2\nwait 0\n", 3}, {"wait 0\n", 0}};
    for (const auto& c : cases) {
        auto read = Read(c.text);
        ASSERT_TRUE(read.ok()) << read.error().message;
        EXPECT_EQ(read->blocks, c.blocks) << c.text;
    }
    auto read = Read("wait 5\n");
    ASSERT_TRUE(read.ok());
    EXPECT_EQ(read->events, std::vector<PlayerEvent>{RenderSamples{5}});
    EXPECT_FALSE(Read("wait -1\n").ok());
    EXPECT_FALSE(Read("wait\n").ok());
}

TEST(Score, AWrongLineIsNamedWithWhatIsWrong) {
    struct Case {
        const char* line;
        const char* message;
    };
    for (Case c : {
             Case{"play 4", "unknown command 'play'"},
             Case{"ON 4", "unknown command 'ON'"},
             Case{"on", "'on' takes KEY [VELOCITY]"},
             Case{"on 4 0", "velocity 0 is outside 1..127"},
             Case{"on 4 1 2", "'on' takes KEY [VELOCITY]"},
             Case{"bend 8192", "bend 8192 is outside -8192..8191"},
             Case{"param BEND_RANGE 25", "BEND_RANGE 25 is outside 0..24"},
             Case{"param VELOCITY_CUTOFF -1", "VELOCITY_CUTOFF -1 is outside 0..100"},
             Case{"off 4 5", "'off' takes KEY"},
             Case{"on 41", "key 41 is outside 0..40"},
             Case{"on -1", "key -1 is outside 0..40"},
             Case{"param WAVE1_TYPE", "'param' takes NAME VALUE"},
             Case{"param WAVE1_TYPE 4", "WAVE1_TYPE 4 is outside 0..3"},
             Case{"param wave1_octave -1", "WAVE1_OCTAVE -1 is outside 0..2"},
             Case{"param VCF_RESONANCE 91", "VCF_RESONANCE 91 is outside 0..90"},
             Case{"param MOD_FREQ 0", "MOD_FREQ 0 is outside 1..20"},
             Case{"param MOD_ON 2", "MOD_ON 2 is outside 0..1"},
             Case{"param ECHO_TIME 49", "ECHO_TIME 49 is outside 50..200"},
             Case{"param TUNING 4701", "TUNING 4701 is outside 4300..4700"},
             Case{"param VOLUME 3", "unknown parameter 'VOLUME'"},
             Case{"param NOISE_VOL 0x10", "'0x10' is not a decimal integer"},
             Case{"param NOISE_VOL 1.5", "'1.5' is not a decimal integer"},
             Case{"render -1", "block count -1 is outside 0..2147483647"},
             Case{"render 99999999999999999999", "block count 99999999999999999999 is outside"},
             Case{"ctrl 2", "ctrl 2 is outside 0..1"},
         }) {
        auto read = Read(std::string("on 1\n\n") + c.line + "\nnot reached\n");
        ASSERT_FALSE(read.ok()) << c.line;
        const std::string expected = std::string("score:3: ") + c.message;
        EXPECT_EQ(read.error().message.substr(0, expected.size()), expected) << c.line;
    }
}

// Whatever arrives, the reader holds one line of at most 4096 bytes, and a message
// quotes at most 64 bytes of the input, with the unprintable ones spelled out.
TEST(Score, InputIsReadInBoundsAndQuotedInBounds) {
    const std::string longest = "#" + std::string(4095, 'x');
    const std::string sixtyFour(64, 'y');
    struct Case {
        std::string input;
        std::string message; // empty: the score reads
    };
    for (const Case& c : {
             Case{longest + "\non 4\n", ""},
             Case{longest + "\r\non 4\n", ""},
             Case{longest + "x\r\non 4\n", "score:1: the line is longer than 4096 bytes"},
             Case{"on 4\n" + longest + "x\non 4\n", "score:2: the line is longer than 4096 bytes"},
             Case{"on 4\n" + longest + "x", "score:2: the line is longer than 4096 bytes"},
             Case{std::string(10'000'000, 'z'), "score:1: the line is longer than 4096 bytes"},
             Case{"play" + sixtyFour,
                  "score:1: unknown command 'play" + sixtyFour.substr(4) + "...'"},
             Case{"on " + sixtyFour, "score:1: '" + sixtyFour + "' is not a decimal integer"},
             Case{std::string("on \x01\xFF\x7F\"", 7),
                  "score:1: '\\x01\\xFF\\x7F\"' is not a decimal integer"},
             Case{"render 9" + std::string(70, '0'),
                  "score:1: block count 9" + std::string(63, '0') + "... is outside 0..2147483647"},
         }) {
        auto read = Read(c.input);
        if (c.message.empty()) {
            EXPECT_TRUE(read.ok()) << read.error().message;
            continue;
        }
        ASSERT_FALSE(read.ok()) << c.message;
        EXPECT_EQ(read.error().message, c.message);
    }

    // A device that never ends a line is read no further than the first 4097 bytes.
    std::ifstream endless("/dev/zero", std::ios::binary);
    auto read = ReadScore(endless, "/dev/zero");
    ASSERT_FALSE(read.ok());
    EXPECT_EQ(read.error().message, "/dev/zero:1: the line is longer than 4096 bytes");
}
