#pragma once

#include <sys/types.h>

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

#include "base/result.h"

// The file plumbing every library shares: writes that finish, the permissions of a new
// file, and replacing a file so that a failure part-way never harms the old one.
namespace morvane {

// The system's reason for the last failed call (errno), as the user reads it.
Error SystemError();

// Writes every byte, going on after a write that took only part of them (a disk filling
// up does that first) or was interrupted by a signal.
Status WriteAll(int fd, const void* data, std::size_t size);
inline Status WriteAll(int fd, std::string_view bytes) {
    return WriteAll(fd, bytes.data(), bytes.size());
}

// The permission bits a file created now gets: 0666 narrowed by the process's umask.
mode_t NewFileMode();

// The permission bits the file that replaces path is to get: those of the plain file
// there, or NewFileMode when there is none. Anything else in its place (a directory, a
// device) is not to be replaced and is an error.
Result<mode_t> ReplacementMode(const std::filesystem::path& path);

// Where the path leads once the symbolic links in its last part are followed, also when
// the final target does not exist yet. Replacing that path instead of the link keeps the
// link a link. A loop of links is an error.
Result<std::filesystem::path> FollowLinks(const std::filesystem::path& path);

// New content for a file, written to a temporary file in the same directory that takes
// the target's name only once it is complete on disk; a crash, a full disk or a file
// size limit part-way leaves the old file as it was. The temporary file is removed again
// unless Commit succeeds.
class FileReplacement {
public:
    // Creates the temporary file beside target with the given permission bits.
    static Result<FileReplacement> Begin(const std::filesystem::path& target, mode_t mode);

    FileReplacement(FileReplacement&& other) noexcept;
    FileReplacement& operator=(FileReplacement&&) = delete;
    ~FileReplacement();

    // The temporary file's name, while there is one.
    const std::string& TemporaryPath() const { return temporary_; }
    Status Write(std::string_view bytes);
    // Syncs the temporary file, closes it and renames it over the target.
    Status Commit();

private:
    FileReplacement(std::filesystem::path target, std::string temporary, int fd);
    void Discard();

    std::filesystem::path target_;
    std::string temporary_; // empty once committed or discarded
    int fd_ = -1;
};

} // namespace morvane
