#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "base/file_io.h"
#include "base/result.h"

// Where morvane-render writes its samples. A character device or a pipe (/dev/null,
// /dev/stdout) is written into as it is. Any other name gets a file that takes the name
// only once it is complete, so that a failure part-way leaves neither a broken file nor
// harm to an older file of that name; a symbolic link stays a link and its target gets
// the new file, and an older file's permission bits stay.
namespace morvane {

class OutputFile {
public:
    // Every error reads "cannot write 'PATH': why".
    static Result<OutputFile> Open(const std::filesystem::path& path);

    OutputFile(OutputFile&& other) noexcept;
    OutputFile& operator=(OutputFile&&) = delete;
    // Without Commit a device is closed and a new file removed, an older one untouched.
    ~OutputFile();

    Status Write(std::string_view bytes);
    // Writes what is left and gives a new file its name.
    Status Commit();

private:
    OutputFile(std::filesystem::path path, int device, std::optional<FileReplacement> file);
    Status Flush();

    std::filesystem::path path_;
    int device_ = -1;
    std::optional<FileReplacement> file_;
    std::string pending_; // bytes gathered into larger writes
};

// Whether both paths name one existing plain file, also through links or other names.
bool SameFile(const std::filesystem::path& a, const std::filesystem::path& b);

} // namespace morvane
