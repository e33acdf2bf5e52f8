#include "buffer/file_replacement.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/support/test_files.h"

namespace {

using testing_support::ReadAll;
using testing_support::TempDir;
using testing_support::WriteAll;

// A buffer holding `text`.
struct Holding : CByteBuffer {
    explicit Holding(const char* text) { Assign(text); }
};

mode_t ModeOf(const std::string& path) {
    struct stat info {};
    lstat(path.c_str(), &info);
    return info.st_mode & 07777;
}

TEST(CFileReplacement, ReplacesTheWholeFileAndKeepsItsPermissions) {
    const TempDir dir;
    const std::string path = dir / "cert.p12";
    WriteAll(path, "old content that is longer");
    chmod(path.c_str(), 0640);
    const Holding content("new");
    {
        CFileReplacement replacement;
        ASSERT_EQ(replacement.Begin(path.c_str()), BUF_S_OK);
        ASSERT_EQ(replacement.Write(content), BUF_S_WRITTEN);
        EXPECT_EQ(ReadAll(path), "old content that is longer");  // untouched until Commit
        CByteBuffer back;
        ASSERT_EQ(replacement.ReadBack(back), BUF_S_OK);
        EXPECT_STREQ(back.CStr(), "new");
        ASSERT_EQ(replacement.Commit(), BUF_S_WRITTEN);
    }
    EXPECT_EQ(ReadAll(path), "new");
    EXPECT_EQ(ModeOf(path), 0640u);
    EXPECT_EQ(dir.List(), std::vector<std::string>{"cert.p12"});
}

TEST(CFileReplacement, TemporaryFileIsHiddenPrivateAndGoesWhenAbandoned) {
    const TempDir dir;
    const std::string path = dir / "cert.p12";
    WriteAll(path, "old");
    chmod(path.c_str(), 0644);
    {
        CFileReplacement replacement;
        ASSERT_EQ(replacement.Begin(path.c_str()), BUF_S_OK);
        ASSERT_EQ(replacement.Write(Holding("new")), BUF_S_WRITTEN);
        const std::string name =
            replacement.temporaryPath().substr(replacement.temporaryPath().rfind('/') + 1);
        EXPECT_EQ(name.rfind(".cert.p12.", 0), 0u) << name;
        EXPECT_EQ(ModeOf(replacement.temporaryPath()), 0600u);
        EXPECT_EQ(dir.List().size(), 2u);
    }
    EXPECT_EQ(ReadAll(path), "old");
    EXPECT_EQ(dir.List(), std::vector<std::string>{"cert.p12"});
}

TEST(CFileReplacement, ThroughASymbolicLinkReplacesTheFileAndKeepsTheLink) {
    const TempDir dir;
    mkdir((dir / "real").c_str(), 0700);
    WriteAll(dir / "real/cert.p12", "old");
    ASSERT_EQ(symlink("real/cert.p12", (dir / "link.p12").c_str()), 0);
    CFileReplacement replacement;
    ASSERT_EQ(replacement.Begin((dir / "link.p12").c_str()), BUF_S_OK);
    ASSERT_EQ(replacement.Write(Holding("new")), BUF_S_WRITTEN);
    ASSERT_EQ(replacement.Commit(), BUF_S_WRITTEN);
    struct stat info {};
    ASSERT_EQ(lstat((dir / "link.p12").c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    EXPECT_EQ(ReadAll(dir / "real/cert.p12"), "new");
}

TEST(CFileReplacement, RefusesWhatItCannotReplaceSafely) {
    const TempDir dir;
    CFileReplacement missing;
    EXPECT_EQ(missing.Begin((dir / "missing").c_str()), 0xEFFF0002u);
    CFileReplacement folder;
    EXPECT_EQ(folder.Begin(dir.path().c_str()), 0xEFFF0005u);
    CFileReplacement none;
    EXPECT_EQ(none.Begin(nullptr), BUF_E_INVALIDARG);

    // Another writer holds the file.
    const std::string path = dir / "cert.p12";
    WriteAll(path, "old");
    {
        CFileReplacement first;
        ASSERT_EQ(first.Begin(path.c_str()), BUF_S_OK);
        CFileReplacement second;
        EXPECT_EQ(second.Begin(path.c_str()), BUF_E_SYSTEM | ERROR_SHARING_VIOLATION);
    }
    // The name was given to another file meanwhile: that file is not overwritten.
    CFileReplacement replacement;
    ASSERT_EQ(replacement.Begin(path.c_str()), BUF_S_OK);
    ASSERT_EQ(replacement.Write(Holding("new")), BUF_S_WRITTEN);
    WriteAll(dir / "other", "someone else's");
    ASSERT_EQ(rename((dir / "other").c_str(), path.c_str()), 0);
    EXPECT_NE(replacement.Commit(), BUF_S_WRITTEN);
    EXPECT_EQ(ReadAll(path), "someone else's");
}

}  // namespace
