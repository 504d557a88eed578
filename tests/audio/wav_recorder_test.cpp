#include "audio/wav_recorder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "tests/audio/temporary_directory.h"

using namespace morvane;

namespace {

constexpr std::time_t kSomeSecond = 1796660000; // 2026-12-07 16:13:20 UTC

struct ErrorBox : ErrorReporter {
    std::vector<std::string> shown;
    void ShowError(const std::string& message) override { shown.push_back(message); }
};

std::vector<std::uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::uint32_t U32At(const std::vector<std::uint8_t>& bytes, std::size_t at) {
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 |
           static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

// Block n holds the samples n, n + 1, ... so that any misplaced byte shows.
std::vector<std::int16_t> Block(int n) {
    std::vector<std::int16_t> samples(kBlockSamples);
    for (int i = 0; i < kBlockSamples; ++i)
        samples[i] = static_cast<std::int16_t>(n * 7 + i - 300);
    return samples;
}

// The samples of block n start at this byte of the file.
std::size_t BlockOffset(int n) {
    return kWavHeaderBytes + static_cast<std::size_t>(n) * kBlockBytes;
}

bool HoldsBlock(const std::vector<std::uint8_t>& file, int n) {
    auto samples = Block(n);
    return file.size() >= BlockOffset(n + 1) &&
           std::equal(file.begin() + BlockOffset(n), file.begin() + BlockOffset(n + 1),
                      reinterpret_cast<const std::uint8_t*>(samples.data()));
}

class Recorder : public ::testing::Test {
protected:
    Recorder() {
        ::setenv("TZ", "UTC", 1);
        ::tzset();
        recorder.SetClock([this] { return now; });
        recorder.SetRecordingListener([this](bool on) { changes.push_back(on); });
    }
    void Record(int blocks, int firstBlock = 0) {
        for (int n = firstBlock; n < firstBlock + blocks; ++n)
            recorder.RecordBlock(Block(n).data());
    }
    std::vector<std::uint8_t> File() const { return ReadFile(recorder.FilePath()); }

    TemporaryDirectory dir;
    ErrorBox errors;
    std::time_t now = kSomeSecond;
    std::vector<bool> changes;
    WavRecorder recorder{dir.Path(), errors};
};

} // namespace

TEST(WavHeader, IsTheFixedLayoutWithBothSizes) {
    const std::uint8_t expected[kWavHeaderBytes] = {
        'R', 'I', 'F', 'F', 0xB6, 0x1B, 0x00, 0x00, 'W',  'A',  'V',  'E',  'f',  'm',  't', ' ',
        18,  0,   0,   0,   1,    0,    1,    0,    0x22, 0x56, 0,    0,    0x44, 0xAC, 0,   0,
        2,   0,   16,  0,   0,    0,    'd',  'a',  't',  'a',  0x90, 0x1B, 0,    0};
    auto header = WavHeader(8 * kBlockBytes); // 7056 = 0x1B90 bytes of samples, + 38 = 0x1BB6
    EXPECT_TRUE(std::equal(header.begin(), header.end(), expected));
}

TEST_F(Recorder, StoppedRecordingOfNBlocksIsTheLayoutWithExactSizes) {
    ASSERT_TRUE(recorder.StartRecording().ok());
    EXPECT_EQ(recorder.FilePath(), dir.Path() + "/20261207-161320.wav");
    Record(3);
    recorder.StopRecording();

    auto file = File();
    ASSERT_EQ(file.size(), BlockOffset(3));
    EXPECT_EQ(U32At(file, 4), 38u + 3 * kBlockBytes);
    EXPECT_EQ(U32At(file, 16), 18u);
    EXPECT_EQ(U32At(file, 42), 3u * kBlockBytes);
    EXPECT_TRUE(std::equal(file.begin(), file.begin() + kWavHeaderBytes,
                           WavHeader(3 * kBlockBytes).begin()));
    EXPECT_TRUE(HoldsBlock(file, 0) && HoldsBlock(file, 1) && HoldsBlock(file, 2));
    EXPECT_EQ(changes, (std::vector<bool>{true, false}));
    EXPECT_TRUE(errors.shown.empty());
}

TEST_F(Recorder, RecordingWithoutBlocksIsAnEmptyWav) {
    ASSERT_TRUE(recorder.StartRecording().ok());
    recorder.StopRecording();
    auto file = File();
    ASSERT_EQ(file.size(), static_cast<std::size_t>(kWavHeaderBytes));
    EXPECT_EQ(U32At(file, 4), 38u);
    EXPECT_EQ(U32At(file, 42), 0u);
}

TEST_F(Recorder, StopsByItselfAtTenMinutesAndTheNextStartMakesANewFile) {
    ASSERT_TRUE(recorder.StartRecording().ok());
    Record(kMaxRecordedBlocks);
    EXPECT_FALSE(recorder.Recording());
    EXPECT_EQ(changes, (std::vector<bool>{true, false}));
    auto first = recorder.FilePath();
    EXPECT_EQ(std::filesystem::file_size(first), 26460046u);
    EXPECT_EQ(U32At(ReadFile(first), 42), 26460000u);

    now += 1;
    ASSERT_TRUE(recorder.StartRecording().ok());
    Record(1);
    recorder.StopRecording();
    EXPECT_NE(recorder.FilePath(), first);
    EXPECT_EQ(std::filesystem::file_size(recorder.FilePath()), BlockOffset(1));
    EXPECT_EQ(std::filesystem::file_size(first), 26460046u);
}

TEST_F(Recorder, SecondStartInTheSameSecondReplacesTheFile) {
    ASSERT_TRUE(recorder.StartRecording().ok());
    Record(5);
    recorder.StopRecording();
    ASSERT_TRUE(recorder.StartRecording().ok());
    Record(1, 9);
    recorder.StopRecording();

    auto file = File();
    EXPECT_EQ(file.size(), BlockOffset(1));
    EXPECT_EQ(U32At(file, 42), static_cast<std::uint32_t>(kBlockBytes));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);
}

TEST_F(Recorder, FileThatCannotBeCreatedIsReportedAndNothingStarts) {
    WavRecorder lost(dir.Path() + "/missing", errors);
    lost.SetClock([this] { return now; });
    const Status started = lost.StartRecording();
    ASSERT_FALSE(started.ok());
    EXPECT_FALSE(lost.Recording());
    EXPECT_EQ(started.error().message,
              "ファイル " + dir.Path() + "/missing/20261207-161320.wav を作成できません。");
    lost.RecordBlock(Block(0).data());
    lost.StopRecording();

    // A disk that is full from the first byte: the header cannot be written either.
    recorder.SetFileOpener([](const std::string&) { return ::open("/dev/full", O_WRONLY); });
    EXPECT_FALSE(recorder.StartRecording().ok());
    EXPECT_TRUE(errors.shown.empty());
    EXPECT_TRUE(changes.empty());
}

TEST_F(Recorder, DiskFullingUpStopsTheRecordingWithAReadableFileOfTheWholeBlocks) {
    // The file-size limit makes the 11th block's write come up short, as a full disk does.
    rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    auto savedSignal = ::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved;
    limited.rlim_cur = BlockOffset(10) + 301;
    ::setrlimit(RLIMIT_FSIZE, &limited);
    ASSERT_TRUE(recorder.StartRecording().ok());
    Record(12);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::signal(SIGXFSZ, savedSignal);

    EXPECT_FALSE(recorder.Recording());
    EXPECT_EQ(changes, (std::vector<bool>{true, false}));
    EXPECT_EQ(errors.shown, std::vector<std::string>{"ファイル " + recorder.FilePath() +
                                                     " に書き込めないため、録音を中止しました。"});
    auto file = File();
    ASSERT_EQ(file.size(), BlockOffset(10));
    EXPECT_EQ(U32At(file, 4), 38u + 10 * kBlockBytes);
    EXPECT_EQ(U32At(file, 42), 10u * kBlockBytes);
    EXPECT_TRUE(HoldsBlock(file, 9));
}

TEST_F(Recorder, KilledRecordingIsAReadableWavLackingAtMostItsLastSecond) {
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    pid_t child = ::fork();
    if (child == 0) {
        if (!recorder.StartRecording().ok())
            ::_exit(1);
        Record(120);
        char done = 1;
        [[maybe_unused]] auto n = ::write(ready[1], &done, 1);
        ::pause();
        ::_exit(0);
    }
    char done = 0;
    ASSERT_EQ(::read(ready[0], &done, 1), 1);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ::close(ready[0]);
    ::close(ready[1]);

    auto file = ReadFile(dir.Path() + "/20261207-161320.wav");
    ASSERT_EQ(file.size(), BlockOffset(120));
    std::uint32_t dataBytes = U32At(file, 42);
    EXPECT_EQ(dataBytes, 100u * kBlockBytes); // brought up to date every 50 blocks
    EXPECT_EQ(U32At(file, 4), 38 + dataBytes);
    EXPECT_TRUE(HoldsBlock(file, 99));
}
