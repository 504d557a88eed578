#include "settings/ini_file.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

// Feeds arbitrary bytes to the settings-file reader: reading must never fail, and the
// text written back must be the file as read and read as the same sections and lines, so
// that a save loses nothing a load has seen.
namespace {

using morvane::IniFile;

void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "settings file round trip: %s\n", what);
        std::abort();
    }
}

void CheckSameContent(const IniFile& a, const IniFile& b) {
    Check(a.Sections().size() == b.Sections().size(), "section count changed");
    for (std::size_t i = 0; i < a.Sections().size(); ++i) {
        const IniFile::Section& x = a.Sections()[i];
        const IniFile::Section& y = b.Sections()[i];
        Check(x.name == y.name, "section name changed");
        Check(x.lines.size() == y.lines.size(), "line count changed");
        for (std::size_t j = 0; j < x.lines.size(); ++j) {
            Check(x.lines[j].text == y.lines[j].text, "line changed");
            Check(x.lines[j].equals == y.lines[j].equals, "key changed");
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const IniFile first =
        IniFile::Parse(std::string_view(reinterpret_cast<const char*>(data), size));
    const std::string text = first.Text();
    // A user's file that a save does not touch comes back byte for byte.
    Check(text == std::string_view(reinterpret_cast<const char*>(data), size),
          "text changed without a write");
    const IniFile second = IniFile::Parse(text);
    CheckSameContent(first, second);
    Check(second.Text() == text, "text changed on the second round");

    // Every lookup gives the same answer before and after the round trip.
    for (const IniFile::Section& section : first.Sections()) {
        for (const IniFile::Line& line : section.lines) {
            if (line.HasKey()) {
                Check(first.ReadString(section.name, line.Key()) ==
                          second.ReadString(section.name, line.Key()),
                      "lookup changed");
            }
        }
    }

    IniFile written = IniFile::Parse(text);
    written.WriteInteger("PRESET0", "WAVE1_TYPE", 3);
    written.WriteInteger("SETUP", "TUNING", 4410);
    const IniFile reread = IniFile::Parse(written.Text());
    Check(reread.ReadInteger("preset0", "wave1_type", -1) == 3, "written key lost");
    Check(reread.ReadInteger("setup", "tuning", -1) == 4410, "written tuning lost");
    return 0;
}
