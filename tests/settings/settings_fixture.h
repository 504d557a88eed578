#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "engine/parameters.h"
#include "engine/startup.h"
#include "settings/presets.h"
#include "settings/tuning_file.h"

// A scratch directory per test, and whole-file helpers that see the bytes as they are.
namespace morvane::fixture {

class TemporaryDirectory {
public:
    TemporaryDirectory() {
        std::string pattern = (std::filesystem::temp_directory_path() / "morvane-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data());
    }
    ~TemporaryDirectory() {
        std::error_code ignored;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ignored);
        std::filesystem::remove_all(path_, ignored);
    }
    TemporaryDirectory(const TemporaryDirectory&) = delete;
    TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

inline std::string ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// Permission checks do not stop the superuser (tests run as root in CI), so the tests
// that rely on them are skipped there.
inline bool PermissionsAreEnforced() {
    return ::geteuid() != 0;
}

// The engine after the program's start-up with a settings file at the given place: the
// tuning read and applied, the engine started and preset slot 0 loaded.
struct StartedEngine {
    explicit StartedEngine(const std::filesystem::path& settingsFile)
        : state(std::make_unique<SynthState>()), controls(*state), bank(controls, settingsFile) {
        EXPECT_TRUE(LoadTuning(*state, settingsFile).ok());
        StartEngine(*state, controls, state->Tuning);
        EXPECT_TRUE(bank.LoadPreset(0).ok());
    }

    std::unique_ptr<SynthState> state;
    SoundControls controls;
    PresetBank bank;
};

} // namespace morvane::fixture
