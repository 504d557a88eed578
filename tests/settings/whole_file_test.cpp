#include "settings/whole_file.h"

#include <gtest/gtest.h>

#include "tests/settings/settings_fixture.h"

using namespace morvane;
using namespace morvane::fixture;
namespace fs = std::filesystem;

TEST(WholeFile, MissingFileOrDirectoryReadsAsEmpty) {
    TemporaryDirectory dir;
    std::string text = "stale";
    EXPECT_EQ(ReadWholeFile(dir / "morvane.ini", text), std::nullopt);
    EXPECT_EQ(text, "");
    EXPECT_EQ(ReadWholeFile(dir / "no-such-dir" / "morvane.ini", text), std::nullopt);
    WriteBytes(dir / "plain", "x");
    EXPECT_EQ(ReadWholeFile(dir / "plain" / "morvane.ini", text), std::nullopt);
}

TEST(WholeFile, UnreadableFileIsReportedWithItsFullPath) {
    TemporaryDirectory dir;
    fs::create_directory(dir / "morvane.ini");
    std::string text;
    const std::optional<FileError> error = ReadWholeFile(dir / "morvane.ini", text);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->message, "ファイル " + (dir / "morvane.ini").string() + " は開けません.");
}

TEST(WholeFile, ReplacesTheContentKeepingPermissionsAndLeavingNoTemporaryFile) {
    TemporaryDirectory dir;
    const fs::path file = dir / "morvane.ini";
    const std::string bytes("[S]\r\nK=\x82\xA0\0\r\n\r\n", 12);
    ASSERT_EQ(ReplaceWholeFile(file, bytes), std::nullopt);
    EXPECT_EQ(ReadBytes(file), bytes);

    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    ASSERT_EQ(ReplaceWholeFile(file, "new"), std::nullopt);
    EXPECT_EQ(ReadBytes(file), "new");
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

TEST(WholeFile, SymbolicLinkStaysALink) {
    TemporaryDirectory dir;
    WriteBytes(dir / "real.ini", "old");
    fs::create_symlink(dir / "real.ini", dir / "morvane.ini");
    ASSERT_EQ(ReplaceWholeFile(dir / "morvane.ini", "new"), std::nullopt);
    EXPECT_TRUE(fs::is_symlink(dir / "morvane.ini"));
    EXPECT_EQ(ReadBytes(dir / "real.ini"), "new");
}

TEST(WholeFile, UnwritablePlaceIsReportedAndChangesNothing) {
    TemporaryDirectory dir;
    WriteBytes(dir / "plain", "x");
    const fs::path beneathAFile = dir / "plain" / "morvane.ini";
    const std::optional<FileError> error = ReplaceWholeFile(beneathAFile, "new");
    ASSERT_TRUE(error);
    EXPECT_EQ(error->message, "ファイル " + beneathAFile.string() + " を作成できません.");
    EXPECT_EQ(ReadBytes(dir / "plain"), "x");
}

TEST(WholeFile, ReadOnlyFileOrDirectoryIsNotReplaced) {
    if (!PermissionsAreEnforced()) {
        GTEST_SKIP() << "permission checks do not apply to the superuser";
    }
    TemporaryDirectory dir;
    const fs::path file = dir / "morvane.ini";
    WriteBytes(file, "old");
    fs::permissions(file, fs::perms::owner_read);
    EXPECT_TRUE(ReplaceWholeFile(file, "new"));
    EXPECT_EQ(ReadBytes(file), "old");

    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
    fs::permissions(dir.path(), fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_TRUE(ReplaceWholeFile(file, "new"));
    EXPECT_TRUE(ReplaceWholeFile(dir / "other.ini", "new"));
    EXPECT_EQ(ReadBytes(file), "old");
}
