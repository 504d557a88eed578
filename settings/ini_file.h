#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/result.h"

// The settings file: an INI text held whole in memory. It is read in one piece, changed
// in memory and written back in one piece; nothing of it is kept between operations.
// The text is 8-bit and its bytes are kept as they are; only ASCII letters fold case.
// A user may edit the file by hand: what a save does not write (comments, blank lines,
// lines before the first section, spacing, line ends) comes back out as it was read.
namespace morvane {

class IniFile {
public:
    // A line of a section: "key=value" (key stripped at its end, value at its start), or
    // a line without "=" kept as it was read.
    struct Line {
        std::string text;
        std::size_t equals = std::string::npos; // position of the first "="
        // The comment and blank lines just before it, as read, line ends included.
        std::string before;
        // The line as read, its line end included; empty for a line written since.
        std::string original;
        std::string_view Key() const { return std::string_view(text).substr(0, equals); }
        std::string_view Value() const { return std::string_view(text).substr(equals + 1); }
        bool HasKey() const { return equals != std::string::npos; }
    };

    struct Section {
        std::string name;
        std::vector<Line> lines;
        std::string header;  // the header line as read; empty for a section written since
        std::string trailer; // comment and blank lines after its last line, as read
    };

    IniFile() = default;
    IniFile(IniFile&&) = default;
    IniFile& operator=(IniFile&&) = default;

    static IniFile Parse(std::string_view text);
    // The file's text: what was read, with the lines written since in their places. A
    // written line ends as the file's first line does (CR LF for a new file); a new
    // section is its header, its lines and one empty line.
    std::string Text() const;

    const std::vector<Section>& Sections() const { return sections_; }

    // Lookups ignore letter case; of two sections of one name the later counts, of two
    // lines of one key in a section the last.
    std::optional<std::string_view> ReadString(std::string_view section,
                                               std::string_view key) const;
    int ReadInteger(std::string_view section, std::string_view key, int defaultValue) const;
    bool ReadBool(std::string_view section, std::string_view key, bool defaultValue) const;

    // Replaces the key's line in place (a line that already holds the value stays as it
    // is), or appends it after the section's last line, or appends the section to the
    // file.
    void WriteString(std::string_view section, std::string_view key, std::string_view value);
    void WriteInteger(std::string_view section, std::string_view key, int value);
    void WriteBool(std::string_view section, std::string_view key, bool value);
    // Takes out the section's lines whose key the predicate picks; the comments before
    // them stay.
    void RemoveKeys(std::string_view section, const std::function<bool(std::string_view)>& pick);

private:
    using NameIndex = std::unordered_map<std::string, std::size_t>;

    // Built on the first lookup only, so that a file of millions of sections costs no
    // index for sections nobody asks for.
    const NameIndex& SectionIndex() const;
    const NameIndex& KeyIndex(std::size_t section) const;
    std::optional<std::size_t> FindSection(std::string_view name) const;
    std::optional<std::size_t> FindKey(std::size_t section, std::string_view key) const;

    Section& SectionToWrite(std::string_view name);

    std::string preamble_; // everything before the first section, as read
    std::string lineEnd_ = "\r\n";
    std::vector<Section> sections_;
    mutable std::unique_ptr<NameIndex> sectionIndex_;
    mutable std::unordered_map<std::size_t, NameIndex> keyIndices_;
};

inline constexpr const char* kSettingsFileName = "morvane.ini";

// The settings file in the directory where the program keeps it.
std::filesystem::path SettingsFilePath(const std::filesystem::path& directory);

// Parses an integer value: decimal with an optional sign, or hexadecimal after "0x" or
// "0X" when the value is longer than two characters. Anything else is not an integer.
std::optional<int> ParseIniInteger(std::string_view value);

// Reads the whole file. A file that does not exist reads as empty.
Result<IniFile> ReadIniFile(const std::filesystem::path& path);
// Replaces the file with the text of file, through a temporary file in the same
// directory, so that a failure part-way leaves the old file whole.
Status WriteIniFile(const std::filesystem::path& path, const IniFile& file);

} // namespace morvane
