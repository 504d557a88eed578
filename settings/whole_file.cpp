#include "settings/whole_file.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <system_error>

#include "base/file_io.h"

namespace morvane {
namespace {

constexpr std::size_t kReadChunk = 64 * 1024;
constexpr mode_t kWriteBits = S_IWUSR | S_IWGRP | S_IWOTH;

std::string FullPath(const std::filesystem::path& path) {
    std::error_code ignored;
    const std::filesystem::path absolute = std::filesystem::absolute(path, ignored);
    return (absolute.empty() ? path : absolute).string();
}

// Closes the descriptor when the read is done, however it ends.
class ReadDescriptor {
public:
    explicit ReadDescriptor(int fd) : fd_(fd) {}
    ~ReadDescriptor() { ::close(fd_); }
    ReadDescriptor(const ReadDescriptor&) = delete;
    ReadDescriptor& operator=(const ReadDescriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// The rename would succeed over a read-only file, so its write permission is checked
// here: a file the user made read-only stays unchanged. The superuser passes every
// access check, so a file without any write bit counts as read-only for everyone.
bool MayBeReplaced(const std::filesystem::path& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        return errno == ENOENT;
    }
    return (status.st_mode & kWriteBits) != 0 && ::access(path.c_str(), W_OK) == 0;
}

} // namespace

Error CannotOpenError(const std::filesystem::path& path) {
    return Error{"ファイル " + FullPath(path) + " は開けません."};
}

Error CannotCreateError(const std::filesystem::path& path) {
    return Error{"ファイル " + FullPath(path) + " を作成できません."};
}

Result<std::string> ReadWholeFile(const std::filesystem::path& path) {
    // Non-blocking, so that opening a pipe in the file's place does not wait for a writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR) {
            return std::string();
        }
        return CannotOpenError(path);
    }
    const ReadDescriptor file(fd);
    // A pipe or a device may never end: only a plain file is read.
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        return CannotOpenError(path);
    }
    std::string text;
    std::array<char, kReadChunk> chunk;
    for (;;) {
        const ssize_t n = ::read(file.get(), chunk.data(), chunk.size());
        if (n == 0) {
            return text;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return CannotOpenError(path);
        }
        text.append(chunk.data(), static_cast<std::size_t>(n));
    }
}

Status ReplaceWholeFile(const std::filesystem::path& path, const std::string& text) {
    const Result<std::filesystem::path> target = FollowLinks(path);
    if (!target) {
        return CannotCreateError(path);
    }
    const Result<mode_t> mode = ReplacementMode(*target);
    if (!mode || !MayBeReplaced(*target)) {
        return CannotCreateError(path);
    }
    Result<FileReplacement> replacement = FileReplacement::Begin(*target, *mode);
    if (!replacement || !replacement->Write(text) || !replacement->Commit()) {
        return CannotCreateError(path);
    }
    return {};
}

} // namespace morvane
