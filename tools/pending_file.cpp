#include "tools/pending_file.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace morvane {

namespace {

std::string Quoted(const std::filesystem::path& path) {
    return "'" + path.string() + "'";
}

// What the system said about the last failure, if it said anything.
std::string Reason() {
    return errno != 0 ? std::string(": ") + std::strerror(errno) : std::string();
}

std::string CannotWrite(const std::filesystem::path& target) {
    return "cannot write " + Quoted(target) + Reason();
}

} // namespace

PendingFile::~PendingFile() {
    if (temporary_.empty())
        return;
    stream_.close();
    std::error_code ignored;
    std::filesystem::remove(temporary_, ignored);
}

std::optional<std::string> PendingFile::Open(const std::filesystem::path& target) {
    if (!target.has_filename())
        return Quoted(target) + " names no file";
    target_ = target;
    std::filesystem::path directory = target.parent_path();
    std::string pattern = (directory / ("." + target.filename().string() + ".XXXXXX")).string();
    errno = 0;
    int fd = mkstemp(pattern.data());
    if (fd < 0)
        return CannotWrite(target);
    // mkstemp makes the file private to its owner; the output should get the mode any
    // new file gets.
    mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    close(fd);
    temporary_ = pattern;
    stream_.open(temporary_, std::ios::binary | std::ios::trunc);
    if (!stream_)
        return CannotWrite(target);
    // From here on errno only changes when a write fails, and Commit reports why.
    errno = 0;
    return std::nullopt;
}

std::optional<std::string> PendingFile::Commit() {
    // The stream keeps failing once a write has failed, so one check covers them all.
    stream_.close();
    if (stream_.fail())
        return CannotWrite(target_);
    std::error_code error;
    std::filesystem::rename(temporary_, target_, error);
    if (error)
        return "cannot write " + Quoted(target_) + ": " + error.message();
    temporary_.clear();
    return std::nullopt;
}

} // namespace morvane
