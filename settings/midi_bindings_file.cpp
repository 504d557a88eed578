#include "settings/midi_bindings_file.h"

#include <algorithm>

#include "base/ascii.h"
#include "settings/ini_file.h"
#include "settings/midi_settings_file.h"

namespace morvane {
namespace {

constexpr const char* kMidiSection = "MIDI";

// Of two sections of one name the later counts, as for every lookup in the file.
const IniFile::Section* FindMidiSection(const IniFile& file) {
    const auto& sections = file.Sections();
    const auto found = std::find_if(sections.rbegin(), sections.rend(), [](const auto& section) {
        return EqualsIgnoringAsciiCase(section.name, kMidiSection);
    });
    return found == sections.rend() ? nullptr : &*found;
}

// The defaults, changed line by line as the section says.
ControllerBindings ReadSection(const IniFile& file, const SkippedBindingLine& skipped) {
    ControllerBindings bindings = ControllerBindings::Defaults();
    const IniFile::Section* section = FindMidiSection(file);
    if (!section)
        return bindings;
    for (const IniFile::Line& line : section->lines) {
        // The channel and the sources share the section and are read with them.
        if (line.HasKey() && IsMidiSettingKey(line.Key()))
            continue;
        // Lines are read in order, so of two lines for one controller the later wins.
        Status read = line.HasKey() ? bindings.ReadEntry(line.Key(), line.Value())
                                    : Status(Error{"a binding is CC<n>=<slider> or AT=<slider>"});
        if (!read && skipped)
            skipped(line.text, read.error().message);
    }
    return bindings;
}

} // namespace

Result<ControllerBindings> LoadControllerBindings(const std::filesystem::path& settingsFile,
                                                  const SkippedBindingLine& skipped) {
    Result<IniFile> file = ReadIniFile(settingsFile);
    if (!file)
        return file.error();
    return ReadSection(*file, skipped);
}

Status SaveControllerBindings(const std::filesystem::path& settingsFile,
                              const ControllerBindings& bindings) {
    Result<IniFile> file = ReadIniFile(settingsFile);
    if (!file)
        return file.error();
    // A line changed can bring a default back that an earlier line had taken (CC20 letting
    // go of the cutoff gives it back to CC74), so the lines are compared again.
    constexpr int kPasses = 3;
    for (int pass = 0; pass < kPasses; ++pass) {
        const ControllerBindings written = ReadSection(*file, {});
        if (written == bindings)
            break;
        for (int controller = 0; controller < kBindingSourceCount; ++controller) {
            if (written.ControlFor(controller) != bindings.ControlFor(controller))
                file->WriteString(kMidiSection, ControllerBindings::KeyOf(controller),
                                  bindings.EntryValue(controller));
        }
    }
    if (ReadSection(*file, {}) != bindings) {
        // A hand-edited section can name a controller twice, or give a slider to one
        // controller and later to another: changing single lines does not say what is
        // meant there. The section's bindings are then written afresh; its comments stay.
        file->RemoveKeys(kMidiSection, [](std::string_view key) {
            return ControllerBindings::ControllerOfKey(key).has_value();
        });
        const ControllerBindings defaults = ControllerBindings::Defaults();
        for (int controller = 0; controller < kBindingSourceCount; ++controller) {
            if (defaults.ControlFor(controller) != bindings.ControlFor(controller))
                file->WriteString(kMidiSection, ControllerBindings::KeyOf(controller),
                                  bindings.EntryValue(controller));
        }
    }
    return WriteIniFile(settingsFile, *file);
}

} // namespace morvane
