#pragma once

#include <filesystem>
#include <optional>
#include <string>

// Reading and replacing a small file in one piece, with the messages the user sees when
// that fails. The file is opened, used and closed within one call.
namespace morvane {

// A file failure as the user is told of it.
struct FileError {
    std::string message;
};

// "ファイル <full path> は開けません."
FileError CannotOpenError(const std::filesystem::path& path);
// "ファイル <full path> を作成できません."
FileError CannotCreateError(const std::filesystem::path& path);

// Reads every byte of the file into text. A file that does not exist (nor its directory)
// reads as empty; something other than a plain file in its place (a directory, a pipe, a
// device), like any other failure, is a CannotOpenError.
[[nodiscard]] std::optional<FileError> ReadWholeFile(const std::filesystem::path& path,
                                                     std::string& text);

// Makes text the file's content. The text goes to a temporary file in the same directory
// that is renamed over the old file only once it is complete on disk, so a crash or a
// full disk part-way leaves the old file as it was. A file that may not be written, or a
// directory in which no file can be created, is a CannotCreateError and changes nothing.
[[nodiscard]] std::optional<FileError> ReplaceWholeFile(const std::filesystem::path& path,
                                                        const std::string& text);

} // namespace morvane
