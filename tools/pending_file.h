#pragma once

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

// An output file that appears under its name only once it is complete: it is written
// as a temporary file in the same directory and renamed at the end, so a failure
// part-way leaves neither a broken file nor harm to an older file of that name.
namespace morvane {

class PendingFile {
public:
    PendingFile() = default;
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;
    // Removes the temporary file unless it was committed.
    ~PendingFile();

    // Creates the temporary file for the target; the message when that fails.
    [[nodiscard]] std::optional<std::string> Open(const std::filesystem::path& target);

    std::ostream& Stream() { return stream_; }

    // Closes the file and gives it the target's name; the message when that fails.
    [[nodiscard]] std::optional<std::string> Commit();

private:
    std::filesystem::path target_;
    std::filesystem::path temporary_; // empty once committed or removed
    std::ofstream stream_;
};

} // namespace morvane
