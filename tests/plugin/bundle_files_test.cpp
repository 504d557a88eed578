#include "plugin/bundle_files.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "tests/audio/temporary_directory.h"

namespace fs = std::filesystem;

namespace {

// Every file and folder under root with its content ("/" for a folder, "-> target" for a
// link), so that a test sees anything written, left behind or taken away.
std::map<std::string, std::string> Snapshot(const fs::path& root) {
    std::map<std::string, std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string name = fs::relative(entry.path(), root);
        if (entry.is_symlink()) {
            found[name] = "-> " + fs::read_symlink(entry.path()).string();
        } else if (entry.is_directory()) {
            found[name] = "/";
        } else {
            std::ifstream file(entry.path(), std::ios::binary);
            found[name].assign(std::istreambuf_iterator<char>(file), {});
        }
    }
    return found;
}

void WriteText(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string ReadText(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
}

// Writes as a full disk does, failing part-way, while it lives.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &previous_);
        previousAction_ = ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{bytes, previous_.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &previous_);
        ::signal(SIGXFSZ, previousAction_);
    }

private:
    rlimit previous_{};
    sighandler_t previousAction_;
};

const fs::path kSettings = MORVANE_SETTINGS;

} // namespace

// Presets go into a new folder, or replace a bundle an earlier export made, as a whole;
// anything else in the way is refused and left as it was, and a failure leaves nothing.
TEST(PresetExport, WritesANewBundleOrReplacesAnEarlierOneAndNothingElse) {
    struct Case {
        const char* name;
        // Prepares the scratch folder and gives the folder to export into.
        std::function<fs::path(const fs::path&)> prepare;
        rlim_t sizeLimit;  // 0: none
        const char* error; // a part of the message, or nullptr for success
        const char* label; // of the first preset
    };
    const Case cases[] = {
        {"a new folder, and the folders above it",
         [](const fs::path& dir) { return dir / "lv2" / "deep" / "mine.lv2"; }, 0, nullptr,
         "mine F1"},
        {"an empty folder",
         [](const fs::path& dir) {
             fs::create_directory(dir / "mine.lv2");
             return dir / "mine.lv2";
         },
         0, nullptr, "mine F1"},
        {"an earlier export, replaced whole",
         [](const fs::path& dir) {
             fs::create_directory(dir / "mine.lv2");
             EXPECT_TRUE(morvane::lv2::ExportPresets(kSettings, dir / "mine.lv2").ok());
             fs::remove(dir / "mine.lv2" / "preset7.ttl");
             WriteText(dir / "mine.lv2" / "preset3.ttl", "stale");
             return dir / "mine.lv2";
         },
         0, nullptr, "mine F1"},
        {"an earlier export through a link, which stays",
         [](const fs::path& dir) {
             EXPECT_TRUE(morvane::lv2::ExportPresets(kSettings, dir / "real.lv2").ok());
             fs::create_directory_symlink("real.lv2", dir / "link.lv2");
             return dir / "link.lv2";
         },
         0, nullptr, "link F1"},
        {"a name with blanks and quotes, shown as typed",
         [](const fs::path& dir) { return dir / "my \"best\" presets.lv2"; }, 0, nullptr,
         "my \\\"best\\\" presets F1"},
        {"the plugin's own bundle",
         [](const fs::path& dir) {
             fs::copy(MORVANE_LV2_BUNDLE, dir / "morvane.lv2");
             return dir / "morvane.lv2";
         },
         0, "was left as it is", nullptr},
        {"a folder of the user's",
         [](const fs::path& dir) {
             fs::create_directory(dir / "mine.lv2");
             WriteText(dir / "mine.lv2" / "notes.txt", "keep me");
             return dir / "mine.lv2";
         },
         0, "holds notes.txt", nullptr},
        {"another plugin's presets",
         [](const fs::path& dir) {
             fs::create_directory(dir / "mine.lv2");
             WriteText(dir / "mine.lv2" / "manifest.ttl", "<urn:other> a lv2:Plugin .");
             return dir / "mine.lv2";
         },
         0, "not a preset bundle of this plugin", nullptr},
        {"a plain file",
         [](const fs::path& dir) {
             WriteText(dir / "mine.lv2", "keep me");
             return dir / "mine.lv2";
         },
         0, "is not a folder", nullptr},
        {"a full disk over an earlier export",
         [](const fs::path& dir) {
             EXPECT_TRUE(morvane::lv2::ExportPresets(kSettings, dir / "mine.lv2").ok());
             return dir / "mine.lv2";
         },
         1000, "mine.lv2/preset0.ttl: File too large", nullptr},
        {"a full disk in new folders", [](const fs::path& dir) { return dir / "lv2" / "mine.lv2"; },
         1000, "lv2/mine.lv2/preset", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TemporaryDirectory scratch;
        const fs::path dir = scratch.Path();
        const fs::path folder = c.prepare(dir);
        const auto before = Snapshot(dir);

        morvane::Status exported;
        if (c.sizeLimit) {
            FileSizeLimit limit(c.sizeLimit);
            exported = morvane::lv2::ExportPresets(kSettings, folder);
        } else {
            exported = morvane::lv2::ExportPresets(kSettings, folder);
        }

        if (c.error) {
            ASSERT_FALSE(exported.ok());
            EXPECT_NE(exported.error().message.find(c.error), std::string::npos)
                << exported.error().message;
            EXPECT_EQ(Snapshot(dir), before);
            continue;
        }
        ASSERT_TRUE(exported.ok()) << exported.error().message;
        const fs::path bundle = fs::canonical(folder);
        std::vector<std::string> files;
        for (const auto& entry : fs::directory_iterator(bundle))
            files.push_back(entry.path().filename());
        std::sort(files.begin(), files.end());
        EXPECT_EQ(files, (std::vector<std::string>{"manifest.ttl", "preset0.ttl", "preset1.ttl",
                                                   "preset2.ttl", "preset3.ttl", "preset4.ttl",
                                                   "preset5.ttl", "preset6.ttl", "preset7.ttl"}));
        EXPECT_NE(ReadText(bundle / "preset0.ttl").find("rdfs:label \"" + std::string(c.label)),
                  std::string::npos)
            << ReadText(bundle / "preset0.ttl");
        EXPECT_NE(ReadText(bundle / "preset3.ttl"), "stale");
        for (const auto& [name, content] : Snapshot(dir))
            EXPECT_NE(fs::path(name).filename().string().front(), '.') << "left behind: " << name;
        if (before.contains("link.lv2")) {
            EXPECT_TRUE(fs::is_symlink(dir / "link.lv2"));
        }
    }
}
