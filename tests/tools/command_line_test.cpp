#include "tools/command_line.h"

#include <gtest/gtest.h>

#include <vector>

using namespace morvane;

namespace {

// What the arguments ask for; a usage error fails the test.
CommandLine Parse(std::vector<std::string_view> arguments) {
    Result<CommandLine> parsed = ParseCommandLine(arguments);
    if (!parsed) {
        ADD_FAILURE() << parsed.error().message;
        return ShowHelp{};
    }
    return *parsed;
}

bool IsUsageError(std::vector<std::string_view> arguments) {
    return !ParseCommandLine(arguments).ok();
}

} // namespace

TEST(CommandLine, OptionsAndTheTwoPaths) {
    auto parsed = Parse({"--ini", "my.ini", "--preset", "3", "song.txt", "song.wav"});
    ASSERT_TRUE(std::holds_alternative<RenderJob>(parsed));
    RenderJob job = std::get<RenderJob>(parsed);
    EXPECT_EQ(job.settingsFile, "my.ini");
    EXPECT_EQ(job.presetSlot, 3);
    EXPECT_EQ(job.score, "song.txt");
    EXPECT_EQ(job.output, "song.wav");

    job = std::get<RenderJob>(Parse({"-", "--preset=7", "-"}));
    EXPECT_EQ(job.settingsFile, std::nullopt);
    EXPECT_EQ(job.presetSlot, 7);
    EXPECT_EQ(job.score, "-");
    EXPECT_EQ(job.output, "-");

    job = std::get<RenderJob>(Parse({"--", "-odd-name", "out"}));
    EXPECT_EQ(job.score, "-odd-name");
    EXPECT_EQ(job.tailBlocks, std::nullopt);

    EXPECT_EQ(std::get<RenderJob>(Parse({"--tail=0.25", "song.MIDI", "out"})).tailBlocks, 13);
    EXPECT_EQ(std::get<RenderJob>(Parse({"song.mid", "--tail", "0", "out"})).tailBlocks, 0);
    EXPECT_EQ(std::get<RenderJob>(Parse({"a", "b"})).rate, 22050);
    EXPECT_EQ(std::get<RenderJob>(Parse({"--rate=48000", "a", "b"})).rate, 48000);
}

TEST(CommandLine, PlayTakesTheScoreAlone) {
    auto parsed = Parse({"--preset", "2", "--play", "song.txt"});
    ASSERT_TRUE(std::holds_alternative<RenderJob>(parsed));
    RenderJob job = std::get<RenderJob>(parsed);
    EXPECT_TRUE(job.play);
    EXPECT_EQ(job.presetSlot, 2);
    EXPECT_EQ(job.score, "song.txt");
    EXPECT_FALSE(std::get<RenderJob>(Parse({"song.txt", "song.wav"})).play);

    EXPECT_TRUE(IsUsageError({"--play"}));
    EXPECT_TRUE(IsUsageError({"--play", "song.txt", "song.wav"}));
}

TEST(CommandLine, PlayChoosesLatencyAndAudio) {
    struct Case {
        std::vector<std::string_view> arguments;
        Latency latency;
        AudioApi api;
        bool connect;
    };
    for (const Case& c : {
             Case{{"--play", "a"}, Latency::Low, AudioApi::Auto, true},
             Case{{"--play", "--latency", "classic", "a"}, Latency::Classic, AudioApi::Auto, true},
             Case{{"--play", "--audio=jack", "--no-connect", "a"},
                  Latency::Low,
                  AudioApi::Jack,
                  false},
             Case{{"--audio", "portaudio", "--play", "a"}, Latency::Low, AudioApi::PortAudio, true},
         }) {
        auto parsed = Parse(c.arguments);
        ASSERT_TRUE(std::holds_alternative<RenderJob>(parsed)) << c.arguments.size();
        const AudioChoice& audio = std::get<RenderJob>(parsed).audio;
        EXPECT_EQ(audio.latency, c.latency);
        EXPECT_EQ(audio.output.api, c.api);
        EXPECT_EQ(audio.output.connect, c.connect);
    }
}

TEST(CommandLine, HelpAndVersionWinOverEverythingElse) {
    EXPECT_TRUE(std::holds_alternative<ShowHelp>(Parse({"-h"})));
    EXPECT_TRUE(std::holds_alternative<ShowHelp>(Parse({"a", "--help", "b"})));
    EXPECT_TRUE(std::holds_alternative<ShowVersion>(Parse({"--version"})));
    EXPECT_TRUE(std::holds_alternative<ShowVersion>(Parse({"a", "-v", "--loud"})));
}

TEST(CommandLine, BadUseIsAUsageError) {
    for (std::vector<std::string_view> bad : {
             std::vector<std::string_view>{"--loud", "a", "b"},
             {"--preset", "8", "a", "b"},
             {"--preset", "-1", "a", "b"},
             {"--preset", "x", "a", "b"},
             {"a", "b", "--ini"},
             {"--ini=", "a", "b"},
             {"a"},
             {"a", "b", "c"},
             {"--tail", "1", "a.txt", "b"},
             {"--tail", "-1", "a.mid", "b"},
             {"--tail", "1e3", "a.mid", "b"},
             {"a.mid", "b", "--tail"},
             {},
             {"--play", "--latency=fast", "a"},
             {"--play", "--audio", "alsa", "a"},
             {"--play", "--latency=classic", "--audio=jack", "a"},
             {"--no-connect", "a", "b"},
             {"--rate", "7999", "a", "b"},
             {"--rate=384001", "a", "b"},
             {"--rate", "48k", "a", "b"},
             {"--rate", "22050", "--play", "a"},
         }) {
        EXPECT_TRUE(IsUsageError(bad)) << bad.size();
    }
}
