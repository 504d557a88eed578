#include "settings/whole_file.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <system_error>

namespace morvane {
namespace {

constexpr std::size_t kReadChunk = 64 * 1024;
constexpr mode_t kPermissionBits = 07777;
constexpr mode_t kWriteBits = S_IWUSR | S_IWGRP | S_IWOTH;
constexpr mode_t kNewFileMode = 0666; // narrowed by the umask, as any new file is

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

bool WriteAll(int fd, const std::string& text) {
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        written += static_cast<std::size_t>(n);
    }
    return true;
}

mode_t CurrentUmask() {
    // The umask can only be read by setting it; it is set straight back.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

// A settings file reached through a symbolic link is replaced where it really lives, so
// the link stays a link.
std::filesystem::path ResolveLink(const std::filesystem::path& path) {
    std::error_code error;
    if (!std::filesystem::is_symlink(path, error)) {
        return path;
    }
    const std::filesystem::path target = std::filesystem::canonical(path, error);
    return error ? path : target;
}

// The permissions the replaced file is to have: those of the old file, or those of a new
// file; nothing when the old file may not be written or its directory cannot be reached.
std::optional<mode_t> PermissionsForReplacement(const std::filesystem::path& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) == 0) {
        // The rename would succeed over a read-only file, so its write permission is
        // checked here: a file the user made read-only stays unchanged. The superuser
        // passes every access check, so a file without any write bit counts as
        // read-only for everyone.
        const bool readOnly = (status.st_mode & kWriteBits) == 0;
        if (!S_ISREG(status.st_mode) || readOnly || ::access(path.c_str(), W_OK) != 0) {
            return std::nullopt;
        }
        return status.st_mode & kPermissionBits;
    }
    if (errno != ENOENT) {
        return std::nullopt;
    }
    return kNewFileMode & ~CurrentUmask();
}

// Writes text into a new temporary file beside path and returns its name once the text
// is complete on disk; on any failure the temporary file is gone again.
std::optional<std::string> WriteTemporaryFile(const std::filesystem::path& path, mode_t mode,
                                              const std::string& text) {
    std::string name = path.string() + ".XXXXXX";
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    const bool written = ::fchmod(fd, mode) == 0 && WriteAll(fd, text) && ::fsync(fd) == 0;
    const bool closed = ::close(fd) == 0;
    if (!written || !closed) {
        ::unlink(name.c_str());
        return std::nullopt;
    }
    return name;
}

} // namespace

FileError CannotOpenError(const std::filesystem::path& path) {
    return FileError{"ファイル " + FullPath(path) + " は開けません."};
}

FileError CannotCreateError(const std::filesystem::path& path) {
    return FileError{"ファイル " + FullPath(path) + " を作成できません."};
}

std::optional<FileError> ReadWholeFile(const std::filesystem::path& path, std::string& text) {
    text.clear();
    // Non-blocking, so that opening a pipe in the file's place does not wait for a writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR) {
            return std::nullopt;
        }
        return CannotOpenError(path);
    }
    const ReadDescriptor file(fd);
    // A pipe or a device may never end: only a plain file is read.
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        return CannotOpenError(path);
    }
    std::array<char, kReadChunk> chunk;
    for (;;) {
        const ssize_t n = ::read(file.get(), chunk.data(), chunk.size());
        if (n == 0) {
            return std::nullopt;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            text.clear();
            return CannotOpenError(path);
        }
        text.append(chunk.data(), static_cast<std::size_t>(n));
    }
}

std::optional<FileError> ReplaceWholeFile(const std::filesystem::path& path,
                                          const std::string& text) {
    const std::filesystem::path target = ResolveLink(path);
    const std::optional<mode_t> mode = PermissionsForReplacement(target);
    if (!mode) {
        return CannotCreateError(path);
    }
    const std::optional<std::string> temporary = WriteTemporaryFile(target, *mode, text);
    if (!temporary) {
        return CannotCreateError(path);
    }
    if (::rename(temporary->c_str(), target.c_str()) != 0) {
        ::unlink(temporary->c_str());
        return CannotCreateError(path);
    }
    return std::nullopt;
}

} // namespace morvane
