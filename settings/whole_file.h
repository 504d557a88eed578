#pragma once

#include <filesystem>
#include <string>

#include "base/result.h"

// Reading and replacing a small file in one piece, with the messages the user sees when
// that fails. The file is opened, used and closed within one call.
namespace morvane {

// "ファイル <full path> は開けません."
Error CannotOpenError(const std::filesystem::path& path);
// "ファイル <full path> を作成できません."
Error CannotCreateError(const std::filesystem::path& path);

// Every byte of the file. A file that does not exist (nor its directory) reads as empty;
// something other than a plain file in its place (a directory, a pipe, a device), like
// any other failure, is a CannotOpenError.
Result<std::string> ReadWholeFile(const std::filesystem::path& path);

// Makes text the file's content. The text goes to a temporary file in the same directory
// that is renamed over the old file only once it is complete on disk, so a crash or a
// full disk part-way leaves the old file as it was. A file that may not be written, or a
// directory in which no file can be created, is a CannotCreateError and changes nothing.
Status ReplaceWholeFile(const std::filesystem::path& path, const std::string& text);

} // namespace morvane
