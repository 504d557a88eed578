#include "tools/command_line.h"

#include <gtest/gtest.h>

#include <vector>

using namespace morvane;

namespace {

CommandLine Parse(std::vector<std::string_view> arguments) {
    return ParseCommandLine(arguments);
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
}

TEST(CommandLine, PlayTakesTheScoreAlone) {
    auto parsed = Parse({"--preset", "2", "--play", "song.txt"});
    ASSERT_TRUE(std::holds_alternative<RenderJob>(parsed));
    RenderJob job = std::get<RenderJob>(parsed);
    EXPECT_TRUE(job.play);
    EXPECT_EQ(job.presetSlot, 2);
    EXPECT_EQ(job.score, "song.txt");
    EXPECT_FALSE(std::get<RenderJob>(Parse({"song.txt", "song.wav"})).play);

    EXPECT_TRUE(std::holds_alternative<UsageError>(Parse({"--play"})));
    EXPECT_TRUE(std::holds_alternative<UsageError>(Parse({"--play", "song.txt", "song.wav"})));
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

TEST(CommandLine, HelpWinsOverEverythingElse) {
    EXPECT_TRUE(std::holds_alternative<ShowHelp>(Parse({"-h"})));
    EXPECT_TRUE(std::holds_alternative<ShowHelp>(Parse({"a", "--help", "b"})));
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
             {},
             {"--play", "--latency=fast", "a"},
             {"--play", "--audio", "alsa", "a"},
             {"--play", "--latency=classic", "--audio=jack", "a"},
             {"--no-connect", "a", "b"},
         }) {
        EXPECT_TRUE(std::holds_alternative<UsageError>(Parse(bad))) << bad.size();
    }
}
