#include "base/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace morvane {

namespace {

constexpr mode_t kNewFileMode = 0666;
constexpr mode_t kPermissionBits = 07777;
// The kernel gives up on a chain of links at this length too.
constexpr int kMostLinksFollowed = 40;

} // namespace

Error SystemError() {
    return Error{std::strerror(errno)};
}

Status WriteAll(int fd, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, bytes, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return SystemError();
        if (n == 0)
            return Error{std::strerror(EIO)};
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return {};
}

mode_t NewFileMode() {
    // The umask can only be read by setting it; it is set straight back.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return kNewFileMode & ~mask;
}

Result<mode_t> ReplacementMode(const std::filesystem::path& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0)
        return errno == ENOENT ? Result<mode_t>(NewFileMode()) : Result<mode_t>(SystemError());
    if (S_ISDIR(status.st_mode))
        return Error{std::strerror(EISDIR)};
    if (!S_ISREG(status.st_mode))
        return Error{"not a plain file"};
    return status.st_mode & kPermissionBits;
}

Result<std::filesystem::path> FollowLinks(const std::filesystem::path& path) {
    std::filesystem::path at = path;
    for (int followed = 0; followed <= kMostLinksFollowed; ++followed) {
        std::error_code error;
        if (!std::filesystem::is_symlink(at, error))
            return at;
        const std::filesystem::path target = std::filesystem::read_symlink(at, error);
        if (error)
            return Error{error.message()};
        at = target.is_absolute() ? target : at.parent_path() / target;
    }
    return Error{std::strerror(ELOOP)};
}

Result<FileReplacement> FileReplacement::Begin(const std::filesystem::path& target, mode_t mode) {
    if (!target.has_filename())
        return Error{std::strerror(EISDIR)};
    // Hidden, and marked as the target's by its name, should a crash leave it behind.
    std::string hidden(".");
    hidden.append(target.filename().string()).append(".XXXXXX");
    std::string name = (target.parent_path() / hidden).string();
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0)
        return SystemError();
    FileReplacement replacement(target, std::move(name), fd);
    // mkostemp makes the file private to its owner.
    if (::fchmod(fd, mode) != 0)
        return SystemError();
    return replacement;
}

FileReplacement::FileReplacement(std::filesystem::path target, std::string temporary, int fd)
    : target_(std::move(target)), temporary_(std::move(temporary)), fd_(fd) {}

FileReplacement::FileReplacement(FileReplacement&& other) noexcept
    : target_(std::move(other.target_)), temporary_(std::exchange(other.temporary_, {})),
      fd_(std::exchange(other.fd_, -1)) {}

FileReplacement::~FileReplacement() {
    Discard();
}

void FileReplacement::Discard() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    if (!temporary_.empty())
        ::unlink(temporary_.c_str());
    temporary_.clear();
}

Status FileReplacement::Write(std::string_view bytes) {
    return WriteAll(fd_, bytes);
}

Status FileReplacement::Commit() {
    if (::fsync(fd_) != 0 || ::close(std::exchange(fd_, -1)) != 0 ||
        ::rename(temporary_.c_str(), target_.c_str()) != 0) {
        Error error = SystemError();
        Discard();
        return error;
    }
    temporary_.clear();
    return {};
}

} // namespace morvane
