#pragma once

#include <filesystem>
#include <string>

// Where the program keeps its settings file and its recordings.
namespace morvane {

// What the choice depends on, gathered by the caller so that the rule runs on any layout:
// the directory of the executable, the home directory and the XDG variables as set (empty
// when unset).
struct FileLocationInputs {
    std::filesystem::path executableDirectory;
    std::filesystem::path home;
    std::string configHome; // XDG_CONFIG_HOME
    std::string musicDir;   // XDG_MUSIC_DIR
};

struct FileLocations {
    std::filesystem::path settingsFile;
    std::filesystem::path recordingDirectory;
};

// An installed program lives in the bin folder of a prefix that has a share folder beside
// it (/usr, /usr/local, ~/.local): that layout, not whether the folder can be written, makes
// it one. A program run from elsewhere (its build tree, a folder of its own) keeps its files
// beside the executable.
bool IsInstalledLayout(const std::filesystem::path& executableDirectory);

// The user's music directory: XDG_MUSIC_DIR when set, else the entry of the user-dirs file
// in the configuration home, else the home directory.
std::filesystem::path MusicDirectory(const FileLocationInputs& inputs);

// The settings file of an installed program, CONFIG/morvane/morvane.ini, its folder made
// when missing. The plugin's panel, which lives in a plugin bundle rather than a bin folder,
// keeps its presets there too, with the installed program's.
std::filesystem::path InstalledSettingsFile(const FileLocationInputs& inputs);

// Installed: the settings in CONFIG/morvane/ and the recordings in the music directory, the
// folders made when missing (the home directory when the music folder cannot be made).
// Otherwise both beside the executable.
FileLocations ChooseFileLocations(const FileLocationInputs& inputs);

} // namespace morvane
