#include "settings/midi_settings_file.h"

#include <algorithm>

#include "base/ascii.h"
#include "settings/ini_file.h"

namespace morvane {
namespace {

constexpr const char* kMidiSection = "MIDI";
constexpr std::string_view kChannelKey = "CHANNEL";
constexpr std::string_view kSourceKeyPrefix = "SOURCE";

// "SOURCE<n>", n any decimal: the numbers only keep the keys apart.
bool IsSourceKey(std::string_view key) {
    key = Trimmed(key);
    if (key.size() <= kSourceKeyPrefix.size() ||
        !EqualsIgnoringAsciiCase(key.substr(0, kSourceKeyPrefix.size()), kSourceKeyPrefix))
        return false;
    return std::ranges::all_of(key.substr(kSourceKeyPrefix.size()),
                               [](char c) { return c >= '0' && c <= '9'; });
}

bool IsChannelKey(std::string_view key) {
    return EqualsIgnoringAsciiCase(Trimmed(key), kChannelKey);
}

// Of two sections of one name the later counts, as for every lookup in the file.
const IniFile::Section* FindMidiSection(const IniFile& file) {
    const auto& sections = file.Sections();
    const auto found = std::find_if(sections.rbegin(), sections.rend(), [](const auto& section) {
        return EqualsIgnoringAsciiCase(section.name, kMidiSection);
    });
    return found == sections.rend() ? nullptr : &*found;
}

MidiSettings ReadSection(const IniFile& file, const SkippedBindingLine& skipped) {
    MidiSettings settings;
    const IniFile::Section* section = FindMidiSection(file);
    if (!section)
        return settings;
    for (const IniFile::Line& line : section->lines) {
        if (!line.HasKey())
            continue;
        if (IsChannelKey(line.Key())) {
            if (const std::optional<int> channel = ParseIniInteger(Trimmed(line.Value())))
                settings.channel = std::clamp(*channel, kAllMidiChannels, kLastMidiChannel);
            else if (skipped)
                skipped(line.text, "the channel is 0 (all) or 1..16");
        } else if (const std::optional<PlayingControl> playing =
                       FindPlayingControl(Trimmed(line.Key()))) {
            if (const std::optional<int> value = ParseIniInteger(Trimmed(line.Value()))) {
                WritePlaying(settings.playing, *playing, *value);
            } else if (skipped) {
                skipped(line.text, std::string(PlayingControlKey(*playing)) + " is 0.." +
                                       std::to_string(LargestPlaying(*playing)));
            }
        } else if (IsSourceKey(line.Key())) {
            const std::string source(Trimmed(line.Value()));
            if (!source.empty() &&
                std::ranges::find(settings.sources, source) == settings.sources.end())
                settings.sources.push_back(source);
        }
    }
    return settings;
}

std::vector<std::string> ReadSources(const IniFile& file) {
    return ReadSection(file, {}).sources;
}

} // namespace

bool IsMidiSettingKey(std::string_view key) {
    return IsChannelKey(key) || IsSourceKey(key) || FindPlayingControl(Trimmed(key)).has_value();
}

Result<MidiSettings> LoadMidiSettings(const std::filesystem::path& settingsFile,
                                      const SkippedBindingLine& skipped) {
    Result<IniFile> file = ReadIniFile(settingsFile);
    if (!file)
        return file.error();
    return ReadSection(*file, skipped);
}

Status SaveMidiChannel(const std::filesystem::path& settingsFile, int channel) {
    Result<IniFile> file = ReadIniFile(settingsFile);
    if (!file)
        return file.error();
    file->WriteInteger(kMidiSection, kChannelKey,
                       std::clamp(channel, kAllMidiChannels, kLastMidiChannel));
    return WriteIniFile(settingsFile, *file);
}

Status SaveMidiPlaying(const std::filesystem::path& settingsFile, PlayingControl control,
                       int value) {
    Result<IniFile> file = ReadIniFile(settingsFile);
    if (!file)
        return file.error();
    file->WriteInteger(kMidiSection, PlayingControlKey(control), ClampPlaying(control, value));
    return WriteIniFile(settingsFile, *file);
}

Status SaveMidiSources(const std::filesystem::path& settingsFile,
                       const std::vector<std::string>& sources) {
    Result<IniFile> file = ReadIniFile(settingsFile);
    if (!file)
        return file.error();
    // Unchanged lines stay where the user put them.
    if (ReadSources(*file) == sources)
        return {};
    file->RemoveKeys(kMidiSection, IsSourceKey);
    for (std::size_t i = 0; i < sources.size(); ++i)
        file->WriteString(kMidiSection, std::string(kSourceKeyPrefix) + std::to_string(i + 1),
                          sources[i]);
    return WriteIniFile(settingsFile, *file);
}

} // namespace morvane
