#include "tools/render_job.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "render_fixture.h"
#include "tests/support/manual_output.h"

using namespace morvane;
using namespace morvane::render_fixture;

namespace {

std::uint32_t U32At(const std::string& bytes, std::size_t offset) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | static_cast<std::uint8_t>(bytes[offset + i]);
    return v;
}

// The samples from the first one on, as raw bytes.
std::string Bytes(const std::vector<std::int16_t>& samples, std::size_t first) {
    std::string bytes;
    for (std::size_t i = first; i < samples.size(); ++i) {
        bytes += static_cast<char>(samples[i] & 0xFF);
        bytes += static_cast<char>(static_cast<std::uint16_t>(samples[i]) >> 8);
    }
    return bytes;
}

std::uint16_t U16At(const std::string& bytes, std::size_t offset) {
    return static_cast<std::uint16_t>(static_cast<std::uint8_t>(bytes[offset]) |
                                      static_cast<std::uint8_t>(bytes[offset + 1]) << 8);
}

} // namespace

TEST(RenderJob, TheChordBecomesAWavFileLikeARecording) {
    ScratchDirectory dir;
    WriteBytes(dir / "chord.txt", kChordScore);
    ToolRun run = RenderTool({dir / "chord.txt", dir / "chord.WAV"});
    ASSERT_EQ(run.status, kExitSuccess) << run.errors;
    EXPECT_EQ(run.errors, "");
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"chord.WAV", "chord.txt"}));

    std::string wav = ReadBytes(dir / "chord.WAV");
    const std::uint32_t data = 882 * 150;
    ASSERT_EQ(wav.size(), 46 + data);
    EXPECT_EQ(wav.substr(0, 4), "RIFF");
    EXPECT_EQ(U32At(wav, 4), 38 + data);
    EXPECT_EQ(wav.substr(8, 8), "WAVEfmt ");
    EXPECT_EQ(U32At(wav, 16), 18u);
    EXPECT_EQ(U16At(wav, 20), 1); // PCM
    EXPECT_EQ(U16At(wav, 22), 1); // mono
    EXPECT_EQ(U32At(wav, 24), 22050u);
    EXPECT_EQ(U32At(wav, 28), 44100u);
    EXPECT_EQ(U16At(wav, 32), 2);
    EXPECT_EQ(U16At(wav, 34), 16);
    EXPECT_EQ(U16At(wav, 36), 0);
    EXPECT_EQ(wav.substr(38, 4), "data");
    EXPECT_EQ(U32At(wav, 42), data);

    // The same samples, raw, on standard output from standard input, and to a file.
    ToolRun raw = RenderTool({"-", "-"}, kChordScore);
    ASSERT_EQ(raw.status, kExitSuccess) << raw.errors;
    EXPECT_EQ(raw.output, wav.substr(46));
    ASSERT_EQ(RenderTool({dir / "chord.txt", dir / "chord.raw"}).status, kExitSuccess);
    EXPECT_EQ(ReadBytes(dir / "chord.raw"), raw.output);
}

TEST(RenderJob, AnEmptyScoreIsAHeaderAlone) {
    ScratchDirectory dir;
    ToolRun run = RenderTool({"-", dir / "empty.wav"}, "# nothing\n");
    ASSERT_EQ(run.status, kExitSuccess) << run.errors;
    std::string wav = ReadBytes(dir / "empty.wav");
    ASSERT_EQ(wav.size(), 46u);
    EXPECT_EQ(U32At(wav, 4), 38u);
    EXPECT_EQ(U32At(wav, 42), 0u);
}

TEST(RenderJob, AScoreErrorNamesItsLineAndWritesNothing) {
    ScratchDirectory dir;
    WriteBytes(dir / "bad.txt", "on 4\nrender 10\non 44\n");
    WriteBytes(dir / "old.wav", "an older take");
    ToolRun run = RenderTool({dir / "bad.txt", dir / "new.wav"});
    EXPECT_EQ(run.status, kExitFailure);
    EXPECT_EQ(run.errors, dir / "bad.txt" + ":3: key 44 is outside 0..40\n");

    run = RenderTool({"-", dir / "old.wav"}, "render 1\nrender\n");
    EXPECT_EQ(run.status, kExitFailure);
    EXPECT_EQ(run.errors, "<stdin>:2: 'render' takes N\n");
    EXPECT_EQ(ReadBytes(dir / "old.wav"), "an older take");
    EXPECT_EQ(dir.Names().size(), 2u);
}

TEST(RenderJob, FileFailuresAreOneLineAndLeaveNoFile) {
    ScratchDirectory dir;
    ToolRun missing = RenderTool({dir / "missing.txt", dir / "out.wav"});
    EXPECT_EQ(missing.status, kExitFailure);
    EXPECT_NE(missing.errors.find("cannot open score"), std::string::npos);
    EXPECT_EQ(std::count(missing.errors.begin(), missing.errors.end(), '\n'), 1);

    ToolRun nowhere = RenderTool({"-", dir / "no/such/dir/out.wav"}, kChordScore);
    EXPECT_EQ(nowhere.status, kExitFailure);
    EXPECT_NE(nowhere.errors.find("cannot write"), std::string::npos);

    std::filesystem::create_directory(dir / "taken");
    ToolRun onDirectory = RenderTool({"-", dir / "taken"}, "render 1\n");
    EXPECT_EQ(onDirectory.status, kExitFailure);
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"taken"});
}

TEST(RenderJob, SettingsFileGivesTheStartTuningAndPreset) {
    ScratchDirectory dir;
    WriteBytes(dir / "morvane.ini", "[SETUP]\nTUNING=4600\n[PRESET1]\nWAVE1_TYPE=2\n");
    ToolRun fresh = RenderTool({"-", "-"}, "on 20\nrender 5\n");
    ToolRun tuned = RenderTool({"--ini", dir / "morvane.ini", "-", "-"}, "on 20\nrender 5\n");
    ToolRun squared =
        RenderTool({"--ini", dir / "morvane.ini", "--preset", "1", "-", "-"}, "on 20\nrender 5\n");
    ToolRun retuned = RenderTool({"-", "-"}, "param TUNING 4600\non 20\nrender 5\n");
    ASSERT_EQ(tuned.status, kExitSuccess) << tuned.errors;
    ASSERT_EQ(squared.status, kExitSuccess) << squared.errors;
    EXPECT_NE(tuned.output, fresh.output);
    EXPECT_EQ(tuned.output, retuned.output);
    EXPECT_NE(squared.output, tuned.output);

    // A tuning the control cannot reach is taken to the nearer end of its range.
    WriteBytes(dir / "sharp.ini", "[SETUP]\nTUNING=99999999\n");
    ToolRun sharp = RenderTool({"--ini", dir / "sharp.ini", "-", "-"}, "on 20\nrender 5\n");
    ToolRun highest = RenderTool({"-", "-"}, "param TUNING 4700\non 20\nrender 5\n");
    ASSERT_EQ(sharp.status, kExitSuccess) << sharp.errors;
    EXPECT_EQ(sharp.output, highest.output);

    ToolRun typo = RenderTool({"--ini", dir / "morvane.inni", "-", "-"}, "render 1\n");
    EXPECT_EQ(typo.status, kExitFailure);
    EXPECT_EQ(typo.output, "");
}

TEST(RenderJobPlay, PlaysTheOfflineRenderingBehindThePrimingSilence) {
    ScratchDirectory dir;
    WriteBytes(dir / "morvane.ini", "[SETUP]\nTUNING=4600\n[PRESET1]\nWAVE1_TYPE=2\n");
    const std::vector<std::string> options = {"--ini", dir / "morvane.ini", "--preset", "1"};
    std::vector<std::string> toFile = options, aloud = options;
    toFile.insert(toFile.end(), {"-", "-"});
    aloud.insert(aloud.end(), {"--latency=classic", "--play", "-"});

    ToolRun rendered = RenderTool(toFile, kChordScore);
    ASSERT_EQ(rendered.status, kExitSuccess) << rendered.errors;
    // The device plays a block each time the player looks, and after the score's last
    // block the silence it waits for, as a device's latency.
    ManualOutputs devices;
    devices.PlayOnTend(kBlockSamples);
    ToolRun played = RenderTool(aloud, kChordScore, devices.Opener());
    ASSERT_EQ(played.status, kExitSuccess) << played.errors;
    EXPECT_EQ(played.errors, "");
    EXPECT_EQ(played.output, "");

    constexpr std::size_t kSilent = 26 * kBlockSamples;
    const std::string bytes = Bytes(devices.LastPlayed(), 0);
    ASSERT_GE(bytes.size(), 2 * kSilent + rendered.output.size());
    EXPECT_EQ(bytes.substr(0, 2 * kSilent), std::string(2 * kSilent, '\0'));
    EXPECT_TRUE(bytes.substr(2 * kSilent, rendered.output.size()) == rendered.output);
    EXPECT_EQ(bytes.find_first_not_of('\0', 2 * kSilent + rendered.output.size()),
              std::string::npos);
}

TEST(RenderJobPlay, ADeviceThatCannotBeOpenedIsPrintedAndEndsTheJob) {
    ManualOutputs closed;
    closed.FailNext(1, "");
    ToolRun run = RenderTool({"--latency=classic", "--play", "-"}, kChordScore, closed.Opener());
    EXPECT_EQ(run.status, kExitDeviceFailure);
    EXPECT_EQ(run.errors, "morvane-render: Problem creating play handle\n");
    EXPECT_EQ(closed.Opened(), 0);
}

TEST(RenderJobPlay, ABadScoreNeverReachesTheDevice) {
    bool opened = false;
    OutputOpener player =
        [&](const RealtimeOutputOptions&) -> Result<std::unique_ptr<RealtimeOutput>> {
        opened = true;
        return Error{"not to be opened"};
    };
    ToolRun run = RenderTool({"--play", "-"}, "on 4\nrender x\n", player);
    EXPECT_EQ(run.status, kExitFailure);
    EXPECT_EQ(run.errors, "<stdin>:2: 'x' is not a decimal integer\n");
    EXPECT_FALSE(opened);
}
