#include "settings/file_locations.h"

#include <fstream>
#include <optional>
#include <string_view>
#include <system_error>

#include "settings/ini_file.h"

namespace morvane {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kProgramFolder = "morvane";

// XDG variables must hold absolute paths; a relative one is ignored as if unset.
std::optional<fs::path> AbsoluteOrNothing(const std::string& value) {
    if (value.empty() || value.front() != '/')
        return std::nullopt;
    return fs::path(value);
}

fs::path ConfigHome(const FileLocationInputs& inputs) {
    return AbsoluteOrNothing(inputs.configHome).value_or(inputs.home / ".config");
}

// The line XDG_MUSIC_DIR="$HOME/Music" or XDG_MUSIC_DIR="/absolute/path" of user-dirs.dirs;
// the file is written by xdg-user-dirs-update in this shell form, other forms are skipped.
std::optional<fs::path> UserDirsMusic(const FileLocationInputs& inputs) {
    std::ifstream file(ConfigHome(inputs) / "user-dirs.dirs");
    constexpr std::string_view kKey = "XDG_MUSIC_DIR=\"";
    constexpr std::string_view kHome = "$HOME";
    std::string line;
    while (std::getline(file, line)) {
        std::string_view text(line);
        if (!text.starts_with(kKey) || !text.ends_with('"'))
            continue;
        text = text.substr(kKey.size(), text.size() - kKey.size() - 1);
        if (text.starts_with(kHome) && (text.size() == kHome.size() || text[kHome.size()] == '/'))
            return inputs.home / fs::path(text.substr(kHome.size())).relative_path();
        if (text.starts_with('/'))
            return fs::path(text);
    }
    return std::nullopt;
}

bool MakeDirectory(const fs::path& directory) {
    std::error_code error;
    fs::create_directories(directory, error);
    return fs::is_directory(directory, error);
}

} // namespace

bool IsInstalledLayout(const fs::path& executableDirectory) {
    const fs::path directory = executableDirectory.lexically_normal();
    const fs::path folder = directory.has_filename() ? directory : directory.parent_path();
    std::error_code error;
    return folder.filename() == "bin" && fs::is_directory(folder.parent_path() / "share", error);
}

fs::path MusicDirectory(const FileLocationInputs& inputs) {
    if (std::optional<fs::path> set = AbsoluteOrNothing(inputs.musicDir))
        return *set;
    return UserDirsMusic(inputs).value_or(inputs.home);
}

fs::path InstalledSettingsFile(const FileLocationInputs& inputs) {
    const fs::path settingsDirectory = ConfigHome(inputs) / kProgramFolder;
    // A folder that cannot be made shows when the file is written, with its path.
    MakeDirectory(settingsDirectory);
    return SettingsFilePath(settingsDirectory);
}

FileLocations ChooseFileLocations(const FileLocationInputs& inputs) {
    if (!IsInstalledLayout(inputs.executableDirectory))
        return {SettingsFilePath(inputs.executableDirectory), inputs.executableDirectory};
    const fs::path settingsFile = InstalledSettingsFile(inputs);
    fs::path music = MusicDirectory(inputs);
    if (!MakeDirectory(music))
        music = inputs.home;
    return {settingsFile, music};
}

} // namespace morvane
