#include "tools/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

#include "tools/termination_cleanup.h"

namespace morvane {

namespace {

constexpr std::size_t kWriteChunk = 64 * 1024;

Error CannotWrite(const std::filesystem::path& path, const Error& why) {
    return Error{"cannot write '" + path.string() + "': " + why.message};
}

bool IsStream(const struct stat& status) {
    return S_ISCHR(status.st_mode) || S_ISFIFO(status.st_mode);
}

} // namespace

Result<OutputFile> OutputFile::Open(const std::filesystem::path& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) == 0 && IsStream(status)) {
        const int device = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
        if (device < 0)
            return CannotWrite(path, SystemError());
        return OutputFile(path, device, std::nullopt);
    }
    const Result<std::filesystem::path> target = FollowLinks(path);
    if (!target)
        return CannotWrite(path, target.error());
    const Result<mode_t> mode = ReplacementMode(*target);
    if (!mode)
        return CannotWrite(path, mode.error());
    const TerminationHeld held;
    Result<FileReplacement> file = FileReplacement::Begin(*target, *mode);
    if (!file)
        return CannotWrite(path, file.error());
    RemoveOnTermination(file->TemporaryPath());
    return OutputFile(path, -1, std::move(*file));
}

OutputFile::OutputFile(std::filesystem::path path, int device, std::optional<FileReplacement> file)
    : path_(std::move(path)), device_(device), file_(std::move(file)) {}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : path_(std::move(other.path_)), device_(std::exchange(other.device_, -1)),
      file_(std::exchange(other.file_, std::nullopt)), pending_(std::move(other.pending_)) {}

OutputFile::~OutputFile() {
    if (device_ >= 0)
        ::close(device_);
    // Removed before it is forgotten, so that no signal finds it in between.
    if (file_) {
        file_.reset();
        KeepOnTermination();
    }
}

Status OutputFile::Write(std::string_view bytes) {
    pending_.append(bytes);
    return pending_.size() >= kWriteChunk ? Flush() : Status();
}

Status OutputFile::Flush() {
    const Status written = file_ ? file_->Write(pending_) : WriteAll(device_, pending_);
    pending_.clear();
    if (!written)
        return CannotWrite(path_, written.error());
    return {};
}

Status OutputFile::Commit() {
    if (Status flushed = Flush(); !flushed)
        return flushed;
    if (file_) {
        const Status committed = file_->Commit();
        file_.reset();
        KeepOnTermination();
        return committed ? committed : CannotWrite(path_, committed.error());
    }
    const bool closed = ::close(std::exchange(device_, -1)) == 0;
    return closed ? Status() : CannotWrite(path_, SystemError());
}

bool SameFile(const std::filesystem::path& a, const std::filesystem::path& b) {
    struct stat first {
    }, second{};
    return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 &&
           S_ISREG(first.st_mode) && first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

} // namespace morvane
