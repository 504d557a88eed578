#include "settings/whole_file.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "tests/settings/settings_fixture.h"

using namespace morvane;
using namespace morvane::fixture;
namespace fs = std::filesystem;

TEST(WholeFile, MissingFileOrDirectoryReadsAsEmpty) {
    TemporaryDirectory dir;
    WriteBytes(dir / "plain", "x");
    for (const fs::path& missing : {dir / "morvane.ini", dir / "no-such-dir" / "morvane.ini",
                                    dir / "plain" / "morvane.ini"}) {
        const Result<std::string> text = ReadWholeFile(missing);
        ASSERT_TRUE(text.ok()) << missing;
        EXPECT_EQ(*text, "");
    }
}

TEST(WholeFile, UnreadableFileIsReportedWithItsFullPath) {
    TemporaryDirectory dir;
    fs::create_directory(dir / "morvane.ini");
    const Result<std::string> error = ReadWholeFile(dir / "morvane.ini");
    ASSERT_FALSE(error.ok());
    EXPECT_EQ(error.error().message,
              "ファイル " + (dir / "morvane.ini").string() + " は開けません.");
}

// A pipe or a device in the file's place may never end or never deliver: it is refused
// at once instead of being read.
TEST(WholeFile, WhatIsNoPlainFileIsNotRead) {
    TemporaryDirectory dir;
    ASSERT_EQ(::mkfifo((dir / "pipe.ini").c_str(), 0600), 0);
    fs::create_symlink("/dev/zero", dir / "endless.ini");
    for (const char* name : {"pipe.ini", "endless.ini"}) {
        const Result<std::string> error = ReadWholeFile(dir / name);
        ASSERT_FALSE(error.ok()) << name;
        EXPECT_EQ(error.error().message, "ファイル " + (dir / name).string() + " は開けません.");
    }
}

TEST(WholeFile, ReplacesTheContentKeepingPermissionsAndLeavingNoTemporaryFile) {
    TemporaryDirectory dir;
    const fs::path file = dir / "morvane.ini";
    const std::string bytes("[S]\r\nK=\x82\xA0\0\r\n\r\n", 12);
    ASSERT_TRUE(ReplaceWholeFile(file, bytes).ok());
    EXPECT_EQ(ReadBytes(file), bytes);

    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    ASSERT_TRUE(ReplaceWholeFile(file, "new").ok());
    EXPECT_EQ(ReadBytes(file), "new");
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

TEST(WholeFile, SymbolicLinkStaysALink) {
    TemporaryDirectory dir;
    WriteBytes(dir / "real.ini", "old");
    fs::create_symlink(dir / "real.ini", dir / "morvane.ini");
    ASSERT_TRUE(ReplaceWholeFile(dir / "morvane.ini", "new").ok());
    EXPECT_TRUE(fs::is_symlink(dir / "morvane.ini"));
    EXPECT_EQ(ReadBytes(dir / "real.ini"), "new");
}

TEST(WholeFile, UnwritablePlaceIsReportedAndChangesNothing) {
    TemporaryDirectory dir;
    WriteBytes(dir / "plain", "x");
    const fs::path beneathAFile = dir / "plain" / "morvane.ini";
    const Status error = ReplaceWholeFile(beneathAFile, "new");
    ASSERT_FALSE(error.ok());
    EXPECT_EQ(error.error().message, "ファイル " + beneathAFile.string() + " を作成できません.");
    EXPECT_EQ(ReadBytes(dir / "plain"), "x");
}

// A file without any write permission was made read-only on purpose: it is kept also
// when the superuser, whom permissions do not stop, saves.
TEST(WholeFile, ReadOnlyFileIsNotReplaced) {
    TemporaryDirectory dir;
    const fs::path file = dir / "morvane.ini";
    WriteBytes(file, "old");
    fs::permissions(file, fs::perms::owner_read | fs::perms::group_read);
    const Status error = ReplaceWholeFile(file, "new");
    ASSERT_FALSE(error.ok());
    EXPECT_EQ(error.error().message, "ファイル " + file.string() + " を作成できません.");
    EXPECT_EQ(ReadBytes(file), "old");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

TEST(WholeFile, ReadOnlyDirectoryTakesNoFile) {
    if (!PermissionsAreEnforced()) {
        GTEST_SKIP() << "permission checks do not apply to the superuser";
    }
    TemporaryDirectory dir;
    const fs::path file = dir / "morvane.ini";
    WriteBytes(file, "old");
    fs::permissions(dir.path(), fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_FALSE(ReplaceWholeFile(file, "new").ok());
    EXPECT_FALSE(ReplaceWholeFile(dir / "other.ini", "new").ok());
    EXPECT_EQ(ReadBytes(file), "old");
}
