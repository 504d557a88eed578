#include "settings/midi_bindings_file.h"

#include <algorithm>

#include "base/ascii.h"
#include "settings/ini_file.h"

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

} // namespace

Result<ControllerBindings> LoadControllerBindings(const std::filesystem::path& settingsFile) {
    Result<IniFile> file = ReadIniFile(settingsFile);
    if (!file)
        return file.error();
    const IniFile::Section* section = FindMidiSection(*file);
    if (!section)
        return ControllerBindings::Defaults();
    ControllerBindings bindings;
    for (const IniFile::Line& line : section->lines) {
        // Lines are read in order, so of two lines for one controller the later wins.
        if (line.HasKey())
            static_cast<void>(bindings.ReadEntry(line.Key(), line.Value()));
    }
    return bindings;
}

Status SaveControllerBindings(const std::filesystem::path& settingsFile,
                              const ControllerBindings& bindings) {
    Result<IniFile> file = ReadIniFile(settingsFile);
    if (!file)
        return file.error();
    file->ClearSection(kMidiSection);
    for (const ControllerBindings::Entry& entry : bindings.Entries())
        file->WriteString(kMidiSection, entry.key, entry.value);
    return WriteIniFile(settingsFile, *file);
}

} // namespace morvane
