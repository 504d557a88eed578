#include "settings/ini_file.h"

#include <gtest/gtest.h>

#include <random>

using namespace morvane;

namespace {

std::vector<std::string> LinesOf(const IniFile& file, std::size_t section) {
    std::vector<std::string> lines;
    for (const IniFile::Line& line : file.Sections().at(section).lines) {
        lines.push_back(line.text);
    }
    return lines;
}

} // namespace

TEST(IniFileReading, StripsDropsAndSplitsLines) {
    const IniFile file = IniFile::Parse("ignored=before any section\r\n"
                                        "; a comment\n"
                                        "\t[ Setup ]  \r"
                                        "\r\n"
                                        "   TUNING \t=  4410\t \n"
                                        "  ;indented comment\n"
                                        "no equals sign here\n"
                                        "a=b=c\n"
                                        "=lonely\n"
                                        "[]\n"
                                        "x");
    ASSERT_EQ(file.Sections().size(), 2u);
    EXPECT_EQ(file.Sections()[0].name, "Setup");
    EXPECT_EQ(LinesOf(file, 0),
              (std::vector<std::string>{"TUNING=4410", "no equals sign here", "a=b=c", "=lonely"}));
    EXPECT_EQ(file.Sections()[1].name, "");
    EXPECT_EQ(LinesOf(file, 1), std::vector<std::string>{"x"});

    EXPECT_EQ(file.ReadString("SETUP", "tuning"), "4410");
    EXPECT_EQ(file.ReadString("setup", "A"), "b=c");
    EXPECT_EQ(file.ReadString("Setup", "no equals sign here"), std::nullopt);
    EXPECT_EQ(file.ReadString("nowhere", "TUNING"), std::nullopt);
}

TEST(IniFileReading, LaterSectionAndLastKeyWin) {
    const IniFile file =
        IniFile::Parse("[preset0]\nA=1\n[PRESET0]\nA=2\na=3\nB=4\n[Preset0]\nA=5\na=6\n");
    ASSERT_EQ(file.Sections().size(), 3u);
    EXPECT_EQ(file.ReadInteger("PRESET0", "A", -1), 6);
    // The later section hides the earlier one whole, even for keys only the earlier has.
    EXPECT_EQ(file.ReadInteger("PRESET0", "B", -1), -1);
}

TEST(IniFileReading, KeepsBytesOfTheEightBitCodePage) {
    // Shift-JIS "音色" and a NUL inside a value: neither is stripped or folded.
    const char text[] = "[S]\nK=\x89\xB9\x90\x46\nN=a\0b\n";
    const IniFile file = IniFile::Parse(std::string_view(text, sizeof text - 1));
    EXPECT_EQ(file.ReadString("S", "K"), "\x89\xB9\x90\x46");
    EXPECT_EQ(file.ReadString("S", "N"), std::string_view("a\0b", 3));
}

TEST(IniFileReading, Integers) {
    EXPECT_EQ(ParseIniInteger("16"), 16);
    EXPECT_EQ(ParseIniInteger("-5"), -5);
    EXPECT_EQ(ParseIniInteger("+7"), 7);
    EXPECT_EQ(ParseIniInteger("007"), 7);
    EXPECT_EQ(ParseIniInteger("0x10"), 16);
    EXPECT_EQ(ParseIniInteger("0X1f"), 31);
    EXPECT_EQ(ParseIniInteger("-2147483648"), INT_MIN);
    EXPECT_EQ(ParseIniInteger("0x7FFFFFFF"), INT_MAX);
    for (const char* bad : {"", "0x", "x10", "0x-1", "0x+1", "-0x10", "0x1g", "12a", "1 2", "+",
                            "-", "+-1", "2147483648", "0x80000000", "1e3"}) {
        EXPECT_EQ(ParseIniInteger(bad), std::nullopt) << bad;
    }
}

TEST(IniFileReading, DefaultsAndBooleans) {
    const IniFile file = IniFile::Parse("[S]\nN=abc\nB2=2\nB0=0\nNEG=-1\nEMPTY=\n");
    EXPECT_EQ(file.ReadInteger("S", "N", 42), 42);
    EXPECT_EQ(file.ReadInteger("S", "EMPTY", 42), 42);
    EXPECT_EQ(file.ReadInteger("S", "MISSING", 42), 42);
    EXPECT_TRUE(file.ReadBool("S", "B2", false));
    EXPECT_TRUE(file.ReadBool("S", "NEG", false));
    EXPECT_FALSE(file.ReadBool("S", "B0", true));
    EXPECT_TRUE(file.ReadBool("S", "N", true));
    EXPECT_FALSE(file.ReadBool("S", "N", false));
}

TEST(IniFileWriting, ReplacesInPlaceAppendsAndAddsSections) {
    IniFile file = IniFile::Parse("[A]\nx=1\nk=old\nplain line\nK=older\ny=2\n[a]\nz=3\n[B]\nq=0");
    file.WriteString("a", "Z", "4");   // in the later of the two sections named A
    file.WriteString("A", "new", "5"); // appended to that section
    file.WriteInteger("C", "n", -12);  // a new section at the end
    file.WriteBool("B", "q", true);    // on a last line that had no line end
    EXPECT_EQ(file.Text(), "[A]\nx=1\nk=old\nplain line\nK=older\ny=2\n"
                           "[a]\nZ=4\nnew=5\n"
                           "[B]\nq=1\n"
                           "[C]\nn=-12\n\n");

    // Of duplicate keys the last is replaced, and it takes the writer's spelling.
    IniFile duplicates = IniFile::Parse("[A]\r\nk=1\r\nK=2\r\n");
    duplicates.WriteString("A", "K", "3");
    EXPECT_EQ(duplicates.Text(), "[A]\r\nk=1\r\nK=3\r\n");
    EXPECT_EQ(duplicates.ReadInteger("a", "k", 0), 3);

    // A new file ends its lines with CR LF and keeps an empty line after each section.
    IniFile fresh = IniFile::Parse("");
    fresh.WriteInteger("SETUP", "TUNING", 4400);
    fresh.WriteInteger("PRESET0", "NOISE_VOL", 0);
    EXPECT_EQ(fresh.Text(), "[SETUP]\r\nTUNING=4400\r\n\r\n[PRESET0]\r\nNOISE_VOL=0\r\n\r\n");
}

TEST(IniFileWriting, EmptyFileStaysEmpty) {
    EXPECT_EQ(IniFile::Parse("").Text(), "");
}

TEST(IniFileWriting, TextReadsBackToTheSameSectionsAndLines) {
    const IniFile first = IniFile::Parse("[ s1 ]\r\nk = v\r\n[x=y]\rline\r[s1]\n=\n[;]\n");
    const IniFile second = IniFile::Parse(first.Text());
    ASSERT_EQ(second.Sections().size(), first.Sections().size());
    for (std::size_t i = 0; i < first.Sections().size(); ++i) {
        EXPECT_EQ(second.Sections()[i].name, first.Sections()[i].name);
        EXPECT_EQ(LinesOf(second, i), LinesOf(first, i));
    }
}

// Hostile files must be read whole, without a crash and without lookups that grow with
// the square of the file.
TEST(IniFileReading, HostileInput) {
    std::mt19937 random(7);
    std::string garbage(4 << 20, '\0');
    for (char& c : garbage) {
        c = static_cast<char>(random());
    }
    const IniFile noise = IniFile::Parse(garbage);
    EXPECT_EQ(noise.ReadInteger("PRESET0", "WAVE1_TYPE", -3), -3);

    std::string manySections;
    for (int i = 0; i < 300000; ++i) {
        manySections += "[S" + std::to_string(i) + "]\nK=" + std::to_string(i) + "\n";
    }
    IniFile sections = IniFile::Parse(manySections);
    EXPECT_EQ(sections.ReadInteger("s299999", "k", -1), 299999);
    sections.WriteInteger("S0", "K", 5);
    EXPECT_EQ(sections.ReadInteger("S0", "K", -1), 5);

    std::string manyKeys = "[S]\n";
    for (int i = 0; i < 300000; ++i) {
        manyKeys.append("K").append(std::to_string(i)).append("=").append(std::to_string(i));
        manyKeys += '\n';
    }
    const IniFile keys = IniFile::Parse(manyKeys);
    EXPECT_EQ(keys.ReadInteger("S", "k123456", -1), 123456);

    const std::string longKey(1 << 20, 'K');
    const IniFile wide =
        IniFile::Parse("[S]\n" + longKey + "=1\n" + std::string(1 << 20, '[') + "\n");
    EXPECT_EQ(wide.ReadInteger("S", longKey, 0), 1);
}
