#include "plugin/bundle_files.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "base/file_io.h"
#include "engine/startup.h"
#include "plugin/ports.h"
#include "plugin/turtle.h"
#include "settings/presets.h"
#include "settings/tuning_file.h"
#include "settings/whole_file.h"

namespace morvane::lv2 {

namespace {

namespace fs = std::filesystem;

constexpr const char* kManifestFile = "manifest.ttl";

std::string PresetFileName(int slot) {
    return "preset" + std::to_string(slot) + ".ttl";
}

// The file's content, written so that the name only ever leads to the whole of it. A
// failure names the file, so that a user whose disk is full knows where.
Status WriteFile(const fs::path& path, const std::string& content, const fs::path& shownAs) {
    auto failed = [&shownAs](const Error& error) {
        return Error{"cannot write " + shownAs.string() + ": " + error.message};
    };
    Result<mode_t> mode = ReplacementMode(path);
    if (!mode)
        return failed(mode.error());
    Result<FileReplacement> file = FileReplacement::Begin(path, *mode);
    if (!file)
        return failed(file.error());
    if (Status written = file->Write(content); !written)
        return failed(written.error());
    if (Status committed = file->Commit(); !committed)
        return failed(committed.error());
    return {};
}

Status MakeFolder(const fs::path& folder) {
    std::error_code error;
    fs::create_directories(folder, error);
    if (error)
        return Error{"cannot create " + folder.string() + ": " + error.message()};
    return {};
}

// The folder's name as the user typed it, without ".lv2": what hosts show in a label.
std::string BundleName(const fs::path& folder) {
    fs::path normal = folder.lexically_normal();
    std::string name = (normal.has_filename() ? normal : normal.parent_path()).filename();
    if (name.size() > 4 && name.ends_with(".lv2"))
        name.resize(name.size() - 4);
    return name;
}

// The name with anything a URI may not hold percent-encoded.
std::string UriName(const std::string& name) {
    std::string encoded;
    for (unsigned char c : name) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
            encoded += static_cast<char>(c);
        } else {
            constexpr const char* kHex = "0123456789ABCDEF";
            encoded += {'%', kHex[c >> 4], kHex[c & 15]};
        }
    }
    return encoded;
}

Status WritePresets(const fs::path& folder, const std::string& manifest,
                    const std::vector<Preset>& presets, const fs::path& shownAs) {
    for (const Preset& preset : presets)
        if (Status written =
                WriteFile(folder / preset.file, PresetDescription(preset), shownAs / preset.file);
            !written)
            return written;
    // The manifest last: until it is there, a host sees no half-made bundle.
    return WriteFile(folder / kManifestFile, manifest, shownAs / kManifestFile);
}

// An export may take the place of nothing, of an empty folder, or of a preset bundle an
// earlier export wrote: one that holds its manifest and preset files alone and describes
// no plugin. Anything else (the plugin's own bundle, another plugin's, a user's folder)
// holds what an export must not destroy.
Status CheckExportTarget(const fs::path& folder, const fs::path& shownAs) {
    auto refused = [&shownAs](const std::string& why) {
        return Error{shownAs.string() + " " + why +
                     ": presets go to a new folder or replace an earlier export, so it "
                     "was left as it is"};
    };
    std::error_code error;
    const fs::file_status status = fs::status(folder, error);
    if (status.type() == fs::file_type::not_found)
        return {};
    if (error)
        return Error{"cannot look at " + shownAs.string() + ": " + error.message()};
    if (status.type() != fs::file_type::directory)
        return refused("is not a folder");
    bool empty = true;
    bool hasManifest = false;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename();
        bool ours = name == kManifestFile;
        for (int slot = 0; slot < kPresetSlotCount && !ours; ++slot)
            ours = name == PresetFileName(slot);
        if (!ours || !entry.is_regular_file(error) || entry.is_symlink(error))
            return refused("holds " + name + ", which no preset export writes");
        hasManifest = hasManifest || name == kManifestFile;
        empty = false;
    }
    if (error)
        return Error{"cannot read the folder " + shownAs.string() + ": " + error.message()};
    if (empty)
        return {};
    if (!hasManifest)
        return refused("holds preset files without a manifest");
    const Result<std::string> manifest = ReadWholeFile(folder / kManifestFile);
    if (!manifest || manifest->find("lv2:Plugin") != std::string::npos ||
        manifest->find("lv2:appliesTo <" + std::string(kPluginUri) + ">") == std::string::npos)
        return refused("is not a preset bundle of this plugin");
    return {};
}

// The folders above folder that do not exist yet, the outermost last.
std::vector<fs::path> MissingParents(const fs::path& folder) {
    std::vector<fs::path> missing;
    std::error_code error;
    for (fs::path at = folder.parent_path(); !at.empty() && at != at.root_path();
         at = at.parent_path()) {
        if (fs::exists(at, error) || error)
            break;
        missing.push_back(at);
    }
    return missing;
}

// A folder beside target with a hidden name of its own, for a new bundle or an old one on
// its way out.
Result<fs::path> MakeTemporaryFolder(const fs::path& target) {
    // Built by appending: GCC 12 warns falsely (-Wrestrict) of a literal added to a string.
    std::string hidden = ".";
    hidden.append(target.filename().string()).append(".XXXXXX");
    std::string name = target.parent_path() / hidden;
    if (!::mkdtemp(name.data()))
        return Error{"cannot create a folder beside " + target.string() + ": " +
                     std::strerror(errno)};
    return fs::path(name);
}

// Puts the complete new bundle in target's place in one step. An old bundle is swapped
// out whole and removed after; where the file system cannot swap, it is moved aside first
// and moved back should the new one not take its place.
Status MoveIntoPlace(const fs::path& made, const fs::path& target) {
    std::error_code error;
    if (!fs::exists(target, error)) {
        if (::rename(made.c_str(), target.c_str()) != 0)
            return Error{"cannot create " + target.string() + ": " + std::strerror(errno)};
        return {};
    }
    if (::renameat2(AT_FDCWD, made.c_str(), AT_FDCWD, target.c_str(), RENAME_EXCHANGE) == 0) {
        fs::remove_all(made, error);
        return {};
    }
    Result<fs::path> aside = MakeTemporaryFolder(target);
    if (!aside)
        return aside.error();
    if (::rename(target.c_str(), aside->c_str()) != 0) {
        const int reason = errno;
        fs::remove(*aside, error);
        return Error{"cannot replace " + target.string() + ": " + std::strerror(reason)};
    }
    if (::rename(made.c_str(), target.c_str()) != 0) {
        const int reason = errno;
        ::rename(aside->c_str(), target.c_str());
        return Error{"cannot replace " + target.string() + ": " + std::strerror(reason)};
    }
    fs::remove_all(*aside, error);
    return {};
}

// The bundle is made whole in a hidden folder beside target and only then takes its place,
// so that a failure part-way (a full disk) leaves whatever was there before as it was,
// and no folder of ours behind.
Status WriteBundleBeside(const fs::path& target, const fs::path& shownAs,
                         const std::string& manifest, const std::vector<Preset>& presets) {
    const std::vector<fs::path> created = MissingParents(target);
    auto undo = [&created] {
        std::error_code ignored;
        for (const fs::path& folder : created)
            fs::remove(folder, ignored); // only while empty
    };
    if (Status made = MakeFolder(target.parent_path()); !made) {
        undo();
        return made;
    }
    Result<fs::path> folder = MakeTemporaryFolder(target);
    if (!folder) {
        undo();
        return folder.error();
    }
    // mkdtemp makes the folder private; a bundle is read by every host the user runs.
    const mode_t mask = ::umask(0); // read by setting it, and set straight back
    ::umask(mask);
    ::chmod(folder->c_str(), 0777 & ~mask);
    std::error_code error;
    Status written = WritePresets(*folder, manifest, presets, shownAs);
    if (written)
        written = MoveIntoPlace(*folder, target);
    if (!written) {
        fs::remove_all(*folder, error);
        undo();
    }
    return written;
}

} // namespace

Status WritePluginBundle(const fs::path& folder) {
    if (Status made = MakeFolder(folder); !made)
        return made;
    if (Status written =
            WriteFile(folder / kDescriptionFile, PluginDescription(), folder / kDescriptionFile);
        !written)
        return written;
    if (Status written =
            WriteFile(folder / kUiDescriptionFile, UiDescription(), folder / kUiDescriptionFile);
        !written)
        return written;
    const std::vector<Preset> presets{DefaultPreset()};
    return WritePresets(folder, PluginManifest(presets), presets, folder);
}

Status ExportPresets(const fs::path& settingsFile, const fs::path& folder) {
    std::error_code error;
    if (!fs::is_regular_file(settingsFile, error))
        return Error{"no settings file " + settingsFile.string()};
    // A link to a folder leads to the folder that is replaced; the link stays.
    fs::path normal = fs::absolute(folder, error).lexically_normal();
    if (!normal.has_filename())
        normal = normal.parent_path();
    const Result<fs::path> target = FollowLinks(normal);
    if (!target)
        return Error{"cannot follow " + folder.string() + ": " + target.error().message};
    if (Status allowed = CheckExportTarget(*target, folder); !allowed)
        return allowed;

    auto state = std::make_unique<SynthState>();
    if (Status tuning = LoadTuning(*state, settingsFile); !tuning)
        return tuning;
    const int tuningValue = state->Tuning;
    SoundControls controls(*state);
    StartEngine(*state, controls, tuningValue);

    const std::string name = BundleName(folder);
    std::vector<Preset> presets;
    for (int slot = 0; slot < kPresetSlotCount; ++slot) {
        if (Status loaded = PresetBank(controls, settingsFile).LoadPreset(slot); !loaded)
            return loaded;
        const std::string number = std::to_string(slot + 1);
        presets.push_back(
            {std::string(kPluginUri) + ":preset:" + UriName(name) + ":" + std::to_string(slot),
             name + " F" + number, PresetFileName(slot), SoundPorts(controls, false, tuningValue)});
    }
    return WriteBundleBeside(*target, folder, PresetManifest(presets), presets);
}

} // namespace morvane::lv2
