#include "settings/file_locations.h"

#include <gtest/gtest.h>

#include "tests/settings/settings_fixture.h"

using namespace morvane;
using namespace morvane::fixture;
namespace fs = std::filesystem;

// Each case lays out a scratch home with the program somewhere in it and says where the
// settings file and the recordings must go. Paths in a case are relative to the scratch
// folder; "~" is the home inside it.
TEST(FileLocations, FollowTheInstallLayoutAndTheXdgVariables) {
    struct Case {
        const char* what;
        const char* executableDirectory;
        const char* makeFolder; // a share folder, say; empty for none
        const char* configHome; // relative: made absolute; "" unset; "rel" as given
        const char* musicDir;
        const char* userDirs; // the line in CONFIG/user-dirs.dirs; "" for no file
        const char* settingsFile;
        const char* recordings;
    };
    const Case cases[] = {
        {"build tree", "build/ui", "", "cfg", "music", "", "build/ui/morvane.ini", "build/ui"},
        {"bin without share beside it", "~/bin", "", "cfg", "music", "", "~/bin/morvane.ini",
         "~/bin"},
        {"prefix in the home", "~/.local/bin", "~/.local/share", "cfg", "music", "",
         "cfg/morvane/morvane.ini", "music"},
        {"trailing slash", "usr/bin/", "usr/share", "cfg", "music", "", "cfg/morvane/morvane.ini",
         "music"},
        {"no XDG variables, no user-dirs file", "usr/bin", "usr/share", "", "", "",
         "~/.config/morvane/morvane.ini", "~"},
        {"music from the user-dirs file", "usr/bin", "usr/share", "cfg", "",
         "XDG_MUSIC_DIR=\"$HOME/Klang\"", "cfg/morvane/morvane.ini", "~/Klang"},
        {"absolute path in the user-dirs file", "usr/bin", "usr/share", "cfg", "",
         "XDG_MUSIC_DIR=\"/ABS/songs\"", "cfg/morvane/morvane.ini", "songs"},
        {"relative XDG variables are ignored", "usr/bin", "usr/share", "rel", "rel",
         "XDG_MUSIC_DIR=\"$HOME/Musik\"", "~/.config/morvane/morvane.ini", "~/Musik"},
        {"a music folder that cannot be made", "usr/bin", "usr/share", "cfg", "~/file/music", "",
         "cfg/morvane/morvane.ini", "~"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TemporaryDirectory dir;
        const fs::path home = dir / "home";
        auto at = [&](std::string relative) {
            if (relative == "~")
                return home;
            if (relative.starts_with("~/"))
                return (home / relative.substr(2)).lexically_normal();
            return (dir.path() / relative).lexically_normal();
        };
        fs::create_directories(home);
        WriteBytes(home / "file", "not a folder");
        fs::create_directories(at(c.executableDirectory));
        if (*c.makeFolder)
            fs::create_directories(at(c.makeFolder));
        auto variable = [&](std::string value) {
            return value.empty() || value == "rel" ? value : at(value).string();
        };
        FileLocationInputs inputs{at(c.executableDirectory), home, variable(c.configHome),
                                  variable(c.musicDir)};
        if (*c.userDirs) {
            std::string line = c.userDirs;
            if (auto abs = line.find("/ABS"); abs != std::string::npos)
                line.replace(abs, 4, dir.path().string());
            const fs::path config = *c.configHome == 'c' ? at(c.configHome) : home / ".config";
            fs::create_directories(config);
            WriteBytes(config / "user-dirs.dirs",
                       "# written by xdg-user-dirs-update\n" + line + "\n");
        }

        const FileLocations chosen = ChooseFileLocations(inputs);
        EXPECT_EQ(chosen.settingsFile.lexically_normal(), at(c.settingsFile));
        EXPECT_EQ(chosen.recordingDirectory.lexically_normal(), at(c.recordings));
        EXPECT_TRUE(fs::is_directory(chosen.settingsFile.parent_path()));
        EXPECT_TRUE(fs::is_directory(chosen.recordingDirectory));
    }
}
