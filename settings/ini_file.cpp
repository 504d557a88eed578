#include "settings/ini_file.h"

#include <charconv>
#include <climits>
#include <cstdint>

#include "base/ascii.h"
#include "settings/whole_file.h"

namespace morvane {
namespace {

constexpr std::string_view kLineEnd = "\r\n";

// Spaces and control characters; bytes from 0x80 up are left alone, since in the 8-bit
// code page they begin or continue a double-byte character.
bool IsBlank(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte <= 0x20 || byte == 0x7F;
}

std::string_view StripStart(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) {
        s.remove_prefix(1);
    }
    return s;
}

std::string_view StripEnd(std::string_view s) {
    while (!s.empty() && IsBlank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

std::string_view Strip(std::string_view s) {
    return StripEnd(StripStart(s));
}

bool IsSectionHeader(std::string_view line) {
    return line.size() >= 2 && line.front() == '[' && line.back() == ']';
}

IniFile::Line MakeKeyLine(std::string_view key, std::string_view value) {
    IniFile::Line line;
    line.text.reserve(key.size() + 1 + value.size());
    line.text.append(key).append("=").append(value);
    line.equals = key.size();
    return line;
}

IniFile::Line MakeLine(std::string_view stripped) {
    const std::size_t equals = stripped.find('=');
    if (equals == std::string_view::npos) {
        IniFile::Line line;
        line.text = stripped;
        return line;
    }
    return MakeKeyLine(StripEnd(stripped.substr(0, equals)),
                       StripStart(stripped.substr(equals + 1)));
}

// Calls visit for each line of text and its line end; CR LF, a lone CR and a lone LF each
// end a line, and the last line may have none.
template <typename Visit> void ForEachLine(std::string_view text, Visit visit) {
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            visit(text.substr(start), std::string_view());
            return;
        }
        const bool crlf = text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n';
        const std::size_t next = end + (crlf ? 2 : 1);
        visit(text.substr(start, end - start), text.substr(end, next - end));
        start = next;
    }
}

// A written line starts on a line of its own, also after a last line that had no end.
void EndLastLine(std::string& text, std::string_view lineEnd) {
    if (!text.empty() && text.back() != '\n' && text.back() != '\r')
        text.append(lineEnd);
}

template <typename Integer> std::optional<Integer> ParseDigits(std::string_view digits, int base) {
    Integer value{};
    const char* last = digits.data() + digits.size();
    const auto [end, error] = std::from_chars(digits.data(), last, value, base);
    if (error != std::errc() || end != last) {
        return std::nullopt;
    }
    return value;
}

// Takes the lines of text up to its first empty one out of it.
std::string TakeLeadingComments(std::string& text) {
    std::size_t length = 0;
    bool blankSeen = false;
    ForEachLine(text, [&](std::string_view raw, std::string_view end) {
        blankSeen = blankSeen || Strip(raw).empty();
        if (!blankSeen)
            length += raw.size() + end.size();
    });
    std::string taken = text.substr(0, length);
    text.erase(0, length);
    return taken;
}

} // namespace

IniFile IniFile::Parse(std::string_view text) {
    IniFile file;
    bool lineEndKnown = false;
    // Comments and blank lines go with the line after them; those after a section's last
    // line, with the section.
    std::string pending;
    auto keepPending = [&file, &pending] {
        (file.sections_.empty() ? file.preamble_ : file.sections_.back().trailer).append(pending);
        pending.clear();
    };
    ForEachLine(text, [&](std::string_view raw, std::string_view end) {
        if (!lineEndKnown && !end.empty()) {
            file.lineEnd_ = end;
            lineEndKnown = true;
        }
        const std::string_view line = Strip(raw);
        pending.append(raw).append(end);
        if (line.empty() || line.front() == ';' ||
            (file.sections_.empty() && !IsSectionHeader(line)))
            return;
        if (IsSectionHeader(line)) {
            const std::size_t length = pending.size() - raw.size() - end.size();
            std::string header = pending.substr(length);
            pending.resize(length);
            keepPending();
            file.sections_.push_back(Section{
                std::string(Strip(line.substr(1, line.size() - 2))), {}, std::move(header), {}});
            return;
        }
        Line kept = MakeLine(line);
        kept.original = pending.substr(pending.size() - raw.size() - end.size());
        pending.resize(pending.size() - kept.original.size());
        kept.before = std::move(pending);
        pending.clear();
        file.sections_.back().lines.push_back(std::move(kept));
    });
    keepPending();
    return file;
}

std::string IniFile::Text() const {
    std::string text = preamble_;
    for (const Section& section : sections_) {
        if (section.header.empty()) {
            EndLastLine(text, lineEnd_);
            text.append("[").append(section.name).append("]").append(lineEnd_);
        } else {
            text.append(section.header);
        }
        for (const Line& line : section.lines) {
            text.append(line.before);
            if (line.original.empty()) {
                EndLastLine(text, lineEnd_);
                text.append(line.text).append(lineEnd_);
            } else {
                text.append(line.original);
            }
        }
        text.append(section.trailer);
    }
    return text;
}

const IniFile::NameIndex& IniFile::SectionIndex() const {
    if (!sectionIndex_) {
        sectionIndex_ = std::make_unique<NameIndex>();
        // Later sections overwrite earlier ones of the same name, so lookups find the
        // later one.
        for (std::size_t i = 0; i < sections_.size(); ++i) {
            (*sectionIndex_)[AsciiLowered(sections_[i].name)] = i;
        }
    }
    return *sectionIndex_;
}

const IniFile::NameIndex& IniFile::KeyIndex(std::size_t section) const {
    const auto [found, inserted] = keyIndices_.try_emplace(section);
    if (inserted) {
        const std::vector<Line>& lines = sections_[section].lines;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            if (lines[i].HasKey()) {
                found->second[AsciiLowered(lines[i].Key())] = i; // the last line of a key counts
            }
        }
    }
    return found->second;
}

std::optional<std::size_t> IniFile::FindSection(std::string_view name) const {
    const NameIndex& index = SectionIndex();
    const auto found = index.find(AsciiLowered(name));
    if (found == index.end()) {
        return std::nullopt;
    }
    return found->second;
}

std::optional<std::size_t> IniFile::FindKey(std::size_t section, std::string_view key) const {
    const NameIndex& index = KeyIndex(section);
    const auto found = index.find(AsciiLowered(key));
    if (found == index.end()) {
        return std::nullopt;
    }
    return found->second;
}

std::optional<std::string_view> IniFile::ReadString(std::string_view section,
                                                    std::string_view key) const {
    const std::optional<std::size_t> s = FindSection(section);
    if (!s) {
        return std::nullopt;
    }
    const std::optional<std::size_t> k = FindKey(*s, key);
    if (!k) {
        return std::nullopt;
    }
    return sections_[*s].lines[*k].Value();
}

int IniFile::ReadInteger(std::string_view section, std::string_view key, int defaultValue) const {
    const std::optional<std::string_view> value = ReadString(section, key);
    if (!value) {
        return defaultValue;
    }
    return ParseIniInteger(*value).value_or(defaultValue);
}

bool IniFile::ReadBool(std::string_view section, std::string_view key, bool defaultValue) const {
    return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

IniFile::Section& IniFile::SectionToWrite(std::string_view name) {
    if (const std::optional<std::size_t> s = FindSection(name))
        return sections_[*s];
    (*sectionIndex_)[AsciiLowered(name)] = sections_.size();
    // One empty line after it, as between the sections of a file the program wrote.
    return sections_.emplace_back(Section{std::string(name), {}, {}, lineEnd_});
}

void IniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
    Section& written = SectionToWrite(section);
    const std::size_t s = static_cast<std::size_t>(&written - sections_.data());
    std::vector<Line>& lines = written.lines;
    if (const std::optional<std::size_t> k = FindKey(s, key)) {
        Line& line = lines[*k];
        if (line.Value() == value)
            return;
        std::string before = std::move(line.before);
        line = MakeKeyLine(key, value);
        line.before = std::move(before);
    } else {
        keyIndices_[s][AsciiLowered(key)] = lines.size();
        lines.push_back(MakeKeyLine(key, value));
        // The comments right under the header of a section without lines say what is to
        // come: the first line goes below them, above the empty lines that end it.
        if (lines.size() == 1)
            lines.back().before = TakeLeadingComments(written.trailer);
    }
}

void IniFile::WriteInteger(std::string_view section, std::string_view key, int value) {
    WriteString(section, key, std::to_string(value));
}

void IniFile::WriteBool(std::string_view section, std::string_view key, bool value) {
    WriteString(section, key, value ? "1" : "0");
}

void IniFile::RemoveKeys(std::string_view section,
                         const std::function<bool(std::string_view)>& pick) {
    const std::optional<std::size_t> s = FindSection(section);
    if (!s)
        return;
    std::vector<Line>& lines = sections_[*s].lines;
    std::vector<Line> kept;
    std::string comments;
    for (Line& line : lines) {
        comments.append(line.before);
        if (line.HasKey() && pick(line.Key()))
            continue;
        line.before = std::move(comments);
        comments.clear();
        kept.push_back(std::move(line));
    }
    sections_[*s].trailer.insert(0, comments);
    lines = std::move(kept);
    keyIndices_.erase(*s);
}

std::filesystem::path SettingsFilePath(const std::filesystem::path& directory) {
    return directory / kSettingsFileName;
}

std::optional<int> ParseIniInteger(std::string_view value) {
    const bool hex = value.size() > 2 && value[0] == '0' && (value[1] == 'x' || value[1] == 'X');
    if (hex) {
        // Hexadecimal has no sign of its own: the digits must fit a non-negative int.
        const std::optional<std::uint32_t> digits = ParseDigits<std::uint32_t>(value.substr(2), 16);
        if (!digits || *digits > static_cast<std::uint32_t>(INT_MAX)) {
            return std::nullopt;
        }
        return static_cast<int>(*digits);
    }
    if (value.size() > 1 && value[0] == '+' && value[1] != '-') {
        value.remove_prefix(1);
    }
    return ParseDigits<int>(value, 10);
}

Result<IniFile> ReadIniFile(const std::filesystem::path& path) {
    const Result<std::string> text = ReadWholeFile(path);
    if (!text) {
        return text.error();
    }
    return IniFile::Parse(*text);
}

Status WriteIniFile(const std::filesystem::path& path, const IniFile& file) {
    return ReplaceWholeFile(path, file.Text());
}

} // namespace morvane
