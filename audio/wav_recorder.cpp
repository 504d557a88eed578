#include "audio/wav_recorder.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "base/file_io.h"
#include "base/little_endian.h"

namespace morvane {

namespace {

// About once a second the header catches up with the samples and the file is synced.
constexpr int kBlocksBetweenSyncs = 50;
constexpr int kRiffSizeOffset = 4;
constexpr int kDataSizeOffset = 42;
// What follows the RIFF size field in a file without samples.
constexpr std::uint32_t kRiffSizeWithoutSamples = kWavHeaderBytes - 8;
constexpr std::uint16_t kFormatPcm = 1;
constexpr std::uint16_t kChannels = 1;
constexpr std::uint16_t kBitsPerSample = 16;
constexpr std::uint16_t kBlockAlign = kChannels * kBitsPerSample / 8;
constexpr std::uint32_t kFormatChunkBytes = 18;

class HeaderWriter {
public:
    explicit HeaderWriter(std::array<std::uint8_t, kWavHeaderBytes>& bytes) : bytes_(bytes) {}
    void Text(const char (&four)[5]) {
        for (int i = 0; i < 4; ++i)
            bytes_[at_++] = static_cast<std::uint8_t>(four[i]);
    }
    void U16(std::uint16_t v) { Put(v); }
    void U32(std::uint32_t v) { Put(v); }

private:
    template <class T> void Put(T v) {
        StoreLittleEndian(v, bytes_.data() + at_);
        at_ += sizeof(T);
    }
    std::array<std::uint8_t, kWavHeaderBytes>& bytes_;
    std::size_t at_ = 0;
};

bool WriteAt(int fd, off_t offset, std::uint32_t value) {
    auto bytes = LittleEndianBytes(value);
    return ::pwrite(fd, bytes.data(), bytes.size(), offset) == static_cast<ssize_t>(bytes.size());
}

int CreateFile(const std::string& path) {
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
}

} // namespace

std::array<std::uint8_t, kWavHeaderBytes> WavHeader(std::uint32_t dataBytes,
                                                    std::uint32_t sampleRate) {
    std::array<std::uint8_t, kWavHeaderBytes> bytes{};
    HeaderWriter w(bytes);
    w.Text("RIFF");
    w.U32(kRiffSizeWithoutSamples + dataBytes);
    w.Text("WAVE");
    w.Text("fmt ");
    w.U32(kFormatChunkBytes);
    w.U16(kFormatPcm);
    w.U16(kChannels);
    w.U32(sampleRate);
    w.U32(sampleRate * kBlockAlign);
    w.U16(kBlockAlign);
    w.U16(kBitsPerSample);
    w.U16(0); // no extra format information
    w.Text("data");
    w.U32(dataBytes);
    return bytes;
}

WavRecorder::WavRecorder(std::string directory, ErrorReporter& errors)
    : directory_(std::move(directory)), errors_(errors), opener_(CreateFile),
      clock_([] { return std::time(nullptr); }) {}

WavRecorder::~WavRecorder() {
    StopRecording();
}

std::string WavRecorder::FileNameFor(std::time_t start) const {
    std::tm local{};
    localtime_r(&start, &local);
    char name[32];
    std::strftime(name, sizeof name, "%Y%m%d-%H%M%S.wav", &local);
    if (directory_.empty() || directory_.back() == '/')
        return directory_ + name;
    return directory_ + "/" + name;
}

Status WavRecorder::StartRecording() {
    if (Recording())
        return {};
    path_ = FileNameFor(clock_());
    int fd = opener_(path_);
    // A header that promises no samples yet: the file is a valid empty WAV from the start.
    auto header = WavHeader(0);
    if (fd >= 0 && !WriteAll(fd, header.data(), header.size())) {
        ::close(fd);
        ::unlink(path_.c_str());
        fd = -1;
    }
    if (fd < 0)
        return Error{"ファイル " + path_ + " を作成できません。"};
    file_ = fd;
    recordedBlocks_ = 0;
    if (listener_)
        listener_(true);
    return {};
}

void WavRecorder::RecordBlock(const std::int16_t* block) {
    if (!Recording())
        return;
    if (!WriteAll(file_, block, kBlockBytes)) {
        // Drop a block written in part, so that the file ends on a whole block. Should
        // that fail too, the sizes still cover only whole blocks and readers skip the rest.
        [[maybe_unused]] int ignored =
            ::ftruncate(file_, kWavHeaderBytes + off_t{kBlockBytes} * recordedBlocks_);
        StopAfterFailure();
        return;
    }
    ++recordedBlocks_;
    if (recordedBlocks_ >= kMaxRecordedBlocks)
        StopRecording();
    else if (recordedBlocks_ % kBlocksBetweenSyncs == 0 && !SyncAndWriteSizes())
        StopAfterFailure();
}

bool WavRecorder::SyncAndWriteSizes() {
    // Samples first: the sizes must never promise samples that a power cut could lose.
    return ::fdatasync(file_) == 0 && WriteSizes();
}

bool WavRecorder::WriteSizes() {
    auto dataBytes = static_cast<std::uint32_t>(recordedBlocks_) * kBlockBytes;
    return WriteAt(file_, kRiffSizeOffset, kRiffSizeWithoutSamples + dataBytes) &&
           WriteAt(file_, kDataSizeOffset, dataBytes);
}

void WavRecorder::StopRecording() {
    if (Recording() && !Finish())
        ReportWriteFailure();
}

void WavRecorder::StopAfterFailure() {
    Finish();
    ReportWriteFailure();
}

bool WavRecorder::Finish() {
    bool finished = WriteSizes() && ::fdatasync(file_) == 0;
    finished = ::close(file_) == 0 && finished;
    file_ = -1;
    if (listener_)
        listener_(false);
    return finished;
}

void WavRecorder::ReportWriteFailure() {
    errors_.ShowError("ファイル " + path_ + " に書き込めないため、録音を中止しました。");
}

} // namespace morvane
