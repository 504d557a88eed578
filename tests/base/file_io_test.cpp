#include "base/file_io.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <iterator>

#include "tests/audio/temporary_directory.h"

using namespace morvane;
namespace fs = std::filesystem;

namespace {

std::string ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::size_t EntryCount(const fs::path& directory) {
    return static_cast<std::size_t>(
        std::distance(fs::directory_iterator(directory), fs::directory_iterator()));
}

} // namespace

// A link is followed to where it leads, relative to the link's own directory, also to a
// file that does not exist yet; a loop of links is an error, not a hang.
TEST(FollowLinks, LeadsWhereTheLastPartPoints) {
    TemporaryDirectory dir;
    const fs::path d = dir.Path();
    fs::create_directory(d / "sub");
    fs::create_symlink(d / "absent", d / "absolute");
    fs::create_symlink("target", d / "sub" / "relative");
    fs::create_symlink("sub/relative", d / "chain");
    fs::create_symlink("loop2", d / "loop1");
    fs::create_symlink("loop1", d / "loop2");
    struct Case {
        fs::path path;
        fs::path leadsTo; // empty: an error
    };
    for (const Case& c : {
             Case{d / "plain", d / "plain"},
             Case{d / "absolute", d / "absent"},
             Case{d / "sub" / "relative", d / "sub" / "target"},
             Case{d / "chain", d / "sub" / "target"},
             Case{d / "loop1", {}},
         }) {
        const Result<fs::path> target = FollowLinks(c.path);
        if (c.leadsTo.empty()) {
            EXPECT_FALSE(target.ok()) << c.path;
            continue;
        }
        ASSERT_TRUE(target.ok()) << c.path << ": " << target.error().message;
        EXPECT_EQ(target->lexically_normal(), c.leadsTo) << c.path;
    }
}

TEST(FileReplacement, TheTargetChangesOnlyOnCommit) {
    TemporaryDirectory dir;
    const fs::path file = fs::path(dir.Path()) / "take.raw";
    std::ofstream(file) << "older";
    {
        Result<FileReplacement> abandoned = FileReplacement::Begin(file, 0600);
        ASSERT_TRUE(abandoned.ok());
        ASSERT_TRUE(abandoned->Write("half").ok());
        EXPECT_EQ(EntryCount(dir.Path()), 2u);
    }
    EXPECT_EQ(ReadBytes(file), "older");
    EXPECT_EQ(EntryCount(dir.Path()), 1u);

    Result<FileReplacement> replacement = FileReplacement::Begin(file, 0640);
    ASSERT_TRUE(replacement.ok());
    ASSERT_TRUE(replacement->Write("newer").ok());
    ASSERT_TRUE(replacement->Commit().ok());
    EXPECT_EQ(ReadBytes(file), "newer");
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(EntryCount(dir.Path()), 1u);

    EXPECT_FALSE(FileReplacement::Begin(file / "beneath", 0600).ok());
}
