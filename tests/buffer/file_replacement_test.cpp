#include "buffer/file_replacement.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <climits>

#include "tests/support/test_files.h"

namespace {

using testing_support::Quote;
using testing_support::ReadAll;
using testing_support::RunAsUser;
using testing_support::TempDir;
using testing_support::WriteAll;

// A buffer holding `text`.
struct Holding : CByteBuffer {
    explicit Holding(const char* text) { Assign(text); }
};

struct stat InfoOf(const std::string& path) {
    struct stat info {};
    lstat(path.c_str(), &info);
    return info;
}

mode_t ModeOf(const std::string& path) {
    return InfoOf(path).st_mode & 07777;
}

// Replaces the file at `path`, which holds `original`, with `content`; the problem on failure.
ReplaceProblem ReplaceWith(const std::string& path, const char* original, const char* content) {
    const Holding before(original);
    CFileReplacement replacement;
    if (replacement.Begin(path.c_str(), before) == BUF_S_OK &&
        replacement.Write(Holding(content)) == BUF_S_WRITTEN &&
        replacement.Commit() == BUF_S_WRITTEN) {
        return ReplaceProblem::None;
    }
    EXPECT_NE(replacement.problem(), ReplaceProblem::None);
    return replacement.problem();
}

// The same as the unprivileged user 65534, as the exit status of a child.
int ReplaceAsUser(const std::string& path, const char* original, const char* content) {
    return RunAsUser([&] { return static_cast<int>(ReplaceWith(path, original, content)); });
}

constexpr int Status(ReplaceProblem problem) {
    return static_cast<int>(problem);
}

TEST(CFileReplacement, ReplacesTheWholeFileAndKeepsItsPermissions) {
    const TempDir dir;
    const std::string path = dir / "cert.p12";
    WriteAll(path, "old content that is longer");
    chmod(path.c_str(), 0640);
    const Holding original("old content that is longer");
    {
        CFileReplacement replacement;
        ASSERT_EQ(replacement.Begin(path.c_str(), original), BUF_S_OK);
        EXPECT_EQ(ModeOf(replacement.temporaryPath()), 0600u);  // while the content is written
        ASSERT_EQ(replacement.Write(Holding("new")), BUF_S_WRITTEN);
        EXPECT_EQ(ReadAll(path), "old content that is longer");  // untouched until Commit
        // Before it takes the target's place the new file already has its mode: a kill
        // between the rename and a later chmod would leave the file locked away.
        EXPECT_EQ(ModeOf(replacement.temporaryPath()), 0640u);
        CByteBuffer back;
        ASSERT_EQ(replacement.ReadBack(back), BUF_S_OK);
        EXPECT_STREQ(back.CStr(), "new");
        ASSERT_EQ(replacement.Commit(), BUF_S_WRITTEN);
    }
    EXPECT_EQ(ReadAll(path), "new");
    EXPECT_EQ(ModeOf(path), 0640u);
    EXPECT_EQ(dir.List(), std::vector<std::string>{"cert.p12"});
}

TEST(CFileReplacement, TemporaryFileIsHiddenAndGoesWhenAbandoned) {
    const TempDir dir;
    const std::string path = dir / "cert.p12";
    WriteAll(path, "old");
    {
        const Holding original("old");
        CFileReplacement replacement;
        ASSERT_EQ(replacement.Begin(path.c_str(), original), BUF_S_OK);
        ASSERT_EQ(replacement.Write(Holding("new")), BUF_S_WRITTEN);
        const std::string name =
            replacement.temporaryPath().substr(replacement.temporaryPath().rfind('/') + 1);
        EXPECT_EQ(name.rfind(".cert.p12.pintool-", 0), 0u) << name;
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
    EXPECT_EQ(ReplaceWith(dir / "link.p12", "old", "new"), ReplaceProblem::None);
    EXPECT_TRUE(S_ISLNK(InfoOf(dir / "link.p12").st_mode));
    EXPECT_EQ(ReadAll(dir / "real/cert.p12"), "new");
}

TEST(CFileReplacement, RefusesWhatItCannotReplaceSafely) {
    const TempDir dir;
    const Holding none("");
    CFileReplacement missing;
    EXPECT_EQ(missing.Begin((dir / "missing").c_str(), none), 0xEFFF0002u);
    EXPECT_EQ(missing.problem(), ReplaceProblem::Gone);
    EXPECT_TRUE(dir.List().empty()) << "a vanished file is not created anew";
    CFileReplacement folder;
    EXPECT_NE(folder.Begin(dir.path().c_str(), none), BUF_S_OK);
    CFileReplacement nullPath;
    EXPECT_EQ(nullPath.Begin(nullptr, none), BUF_E_INVALIDARG);

    // Another writer holds the file.
    const std::string path = dir / "cert.p12";
    WriteAll(path, "old");
    const Holding original("old");
    {
        CFileReplacement first;
        ASSERT_EQ(first.Begin(path.c_str(), original), BUF_S_OK);
        CFileReplacement second;
        EXPECT_EQ(second.Begin(path.c_str(), original), BUF_E_SYSTEM | ERROR_SHARING_VIOLATION);
        EXPECT_EQ(second.problem(), ReplaceProblem::InUse);
    }
    // Other names for the same file would keep the old content.
    ASSERT_EQ(link(path.c_str(), (dir / "second name").c_str()), 0);
    EXPECT_EQ(ReplaceWith(path, "old", "new"), ReplaceProblem::HardLinks);
    EXPECT_EQ(ReadAll(path), "old");
}

TEST(CFileReplacement, NeverOverwritesWhatAnotherProgramWroteMeanwhile) {
    const TempDir dir;
    const std::string path = dir / "cert.p12";
    const Holding original("old");
    // Rewritten in place before the change began.
    WriteAll(path, "renewed");
    EXPECT_EQ(ReplaceWith(path, "old", "new"), ReplaceProblem::Changed);
    EXPECT_EQ(ReadAll(path), "renewed");

    // Rewritten in place, same length, while the new content was being written.
    WriteAll(path, "old");
    {
        CFileReplacement replacement;
        ASSERT_EQ(replacement.Begin(path.c_str(), original), BUF_S_OK);
        ASSERT_EQ(replacement.Write(Holding("new")), BUF_S_WRITTEN);
        WriteAll(path, "odd");  // ignores the lock, as most programs do
        EXPECT_NE(replacement.Commit(), BUF_S_WRITTEN);
        EXPECT_EQ(replacement.problem(), ReplaceProblem::Changed);
    }
    EXPECT_EQ(ReadAll(path), "odd");

    // Another file took the name meanwhile.
    WriteAll(path, "old");
    {
        CFileReplacement replacement;
        ASSERT_EQ(replacement.Begin(path.c_str(), original), BUF_S_OK);
        ASSERT_EQ(replacement.Write(Holding("new")), BUF_S_WRITTEN);
        WriteAll(dir / "other", "old");  // even with the same bytes: not the file locked
        ASSERT_EQ(rename((dir / "other").c_str(), path.c_str()), 0);
        EXPECT_NE(replacement.Commit(), BUF_S_WRITTEN);
        EXPECT_EQ(replacement.problem(), ReplaceProblem::Changed);
    }
    EXPECT_EQ(dir.List(), std::vector<std::string>{"cert.p12"});

    // The file went away meanwhile: it is not brought back.
    {
        CFileReplacement replacement;
        ASSERT_EQ(replacement.Begin(path.c_str(), original), BUF_S_OK);
        ASSERT_EQ(replacement.Write(Holding("new")), BUF_S_WRITTEN);
        ASSERT_EQ(unlink(path.c_str()), 0);
        EXPECT_NE(replacement.Commit(), BUF_S_WRITTEN);
        EXPECT_EQ(replacement.problem(), ReplaceProblem::Gone);
    }
    EXPECT_TRUE(dir.List().empty());
}

TEST(CFileReplacement, ReplacesOnlyFilesTheUserMayWriteInPlace) {
    const TempDir dir;
    chmod(dir.path().c_str(), 0777);
    // Made read-only by its owner: refused even for root.
    const std::string readOnly = dir / "read-only.p12";
    for (const mode_t mode : {0444, 0400}) {
        WriteAll(readOnly, "old");
        chmod(readOnly.c_str(), mode);
        EXPECT_EQ(ReplaceWith(readOnly, "old", "new"), ReplaceProblem::NotWritable) << mode;
        EXPECT_EQ(ReadAll(readOnly), "old");
        unlink(readOnly.c_str());
    }
    if (geteuid() != 0) {
        GTEST_SKIP() << "the cases of other users' files need root to set them up";
    }
    // Root's file, readable by all, in a directory the user may write.
    const std::string roots = dir / "root.p12";
    WriteAll(roots, "old");
    chmod(roots.c_str(), 0644);
    EXPECT_EQ(ReplaceAsUser(roots, "old", "new"), Status(ReplaceProblem::NotWritable));
    EXPECT_EQ(ReadAll(roots), "old");
    EXPECT_EQ(InfoOf(roots).st_uid, 0u);
    // Another user's file the user's group may write: writable in place, but a replacement
    // would make it the user's own.
    const std::string shared = dir / "shared.p12";
    WriteAll(shared, "old");
    ASSERT_EQ(chown(shared.c_str(), 12345, 65534), 0);
    chmod(shared.c_str(), 0660);
    EXPECT_EQ(ReplaceAsUser(shared, "old", "new"), Status(ReplaceProblem::OwnerNotKept));
    EXPECT_EQ(ReadAll(shared), "old");
    EXPECT_EQ(InfoOf(shared).st_uid, 12345u);
    EXPECT_EQ(dir.List().size(), 2u) << "no temporary file left";
}

TEST(CFileReplacement, KeepsOwnerGroupModeAclsAndExtendedAttributes) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "giving the file another owner needs root";
    }
    const TempDir dir;
    const std::string path = dir / "cert.p12";
    WriteAll(path, "old");
    ASSERT_EQ(chown(path.c_str(), 12345, 23456), 0);
    chmod(path.c_str(), 0640);
    const auto acl =
        testing_support::Run("setfacl -m user:65534:r--,group::---,mask::r-- " + Quote(path));
    ASSERT_EQ(acl.status, 0) << acl.output;
    ASSERT_EQ(setxattr(path.c_str(), "user.note", "Sicherung", 9, 0), 0);
    const std::string getfacl = "getfacl --absolute-names -n " + Quote(path);
    const std::string aclBefore = testing_support::Run(getfacl).output;
    const struct stat before = InfoOf(path);

    const Holding original("old");
    CFileReplacement replacement;
    ASSERT_EQ(replacement.Begin(path.c_str(), original), BUF_S_OK);
    ASSERT_EQ(replacement.Write(Holding("new")), BUF_S_WRITTEN);
    // All of it is in place before the rename.
    const struct stat temporary = InfoOf(replacement.temporaryPath());
    EXPECT_EQ(temporary.st_uid, 12345u);
    EXPECT_EQ(temporary.st_mode, before.st_mode);
    ASSERT_EQ(replacement.Commit(), BUF_S_WRITTEN);

    const struct stat after = InfoOf(path);
    EXPECT_EQ(ReadAll(path), "new");
    EXPECT_EQ(after.st_uid, 12345u);
    EXPECT_EQ(after.st_gid, 23456u);
    EXPECT_EQ(after.st_mode, before.st_mode);
    EXPECT_EQ(testing_support::Run(getfacl).output, aclBefore);
    EXPECT_NE(aclBefore.find("group::---"), std::string::npos) << aclBefore;
    char note[32] = {};
    EXPECT_EQ(getxattr(path.c_str(), "user.note", note, sizeof note), 9);
    EXPECT_STREQ(note, "Sicherung");
}

TEST(CFileReplacement, RemovesOnlyThisUsersLeftoversOfTheSameFile) {
    const TempDir dir;
    const std::string path = dir / "cert.p12";
    WriteAll(path, "old");
    std::vector<std::string> expected = {".cert.p12.pintool-abc12", ".other.p12.pintool-abc123",
                                         ".cert.p12.pintool-abc123.bak"};
    for (const std::string& name : expected) {
        WriteAll(dir / name, "x");
    }
    expected.push_back("cert.p12");
    WriteAll(dir / ".cert.p12.pintool-Kd93xQ", "left by a change that was killed");
    if (geteuid() == 0) {
        WriteAll(dir / ".cert.p12.pintool-others", "another user's");
        ASSERT_EQ(chown((dir / ".cert.p12.pintool-others").c_str(), 12345, 12345), 0);
        expected.push_back(".cert.p12.pintool-others");
    }
    EXPECT_EQ(ReplaceWith(path, "old", "new"), ReplaceProblem::None);
    std::vector<std::string> left = dir.List();
    std::sort(left.begin(), left.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(left, expected);
}

TEST(CFileReplacement, ALongNameIsCutBetweenCharacters) {
    const TempDir dir;
    // "ü" takes bytes 199 and 200: a cut at 200 bytes would split it.
    const std::string name = std::string(199, 'a') + "ü.p12";
    const std::string path = dir / name;
    WriteAll(path, "old");
    const Holding original("old");
    CFileReplacement replacement;
    ASSERT_EQ(replacement.Begin(path.c_str(), original), BUF_S_OK);
    const std::string temporary =
        replacement.temporaryPath().substr(replacement.temporaryPath().rfind('/') + 1);
    EXPECT_LE(temporary.size(), static_cast<size_t>(NAME_MAX));
    EXPECT_EQ(temporary, "." + std::string(199, 'a') + ".pintool-" + temporary.substr(209));
}

}  // namespace
