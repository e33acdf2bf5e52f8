#include <gtest/gtest.h>

#include <string>

#include "buffer/file_replacement.h"
#include "tests/support/test_files.h"

// The replacement on Windows: the same guarantees as elsewhere, in Windows' terms (sharing,
// the read-only attribute, file attributes, names beyond Windows-1252 and MAX_PATH).

namespace {

using testing_support::ReadAll;
using testing_support::TempDir;
using testing_support::WriteAll;

struct Holding : CByteBuffer {
    explicit Holding(const char* text) { Assign(text); }
};

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

DWORD AttributesOf(const std::string& path) {
    return GetFileAttributesA(path.c_str());
}

TEST(CFileReplacementWindows, ReplacesTheWholeFileAndKeepsItsAttributes) {
    const TempDir dir;
    const std::string path = dir / "cert.p12";
    WriteAll(path, "a longer original content");
    ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_EQ(ReplaceWith(path, "a longer original content", "new"), ReplaceProblem::None);
    EXPECT_EQ(ReadAll(path), "new");
    EXPECT_EQ(AttributesOf(path) & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE),
              static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_EQ(dir.List().size(), 1u);
}

TEST(CFileReplacementWindows, TemporaryFileIsHiddenHeldAndGoesWhenAbandoned) {
    const TempDir dir;
    const std::string path = dir / "cert.p12";
    WriteAll(path, "original");
    {
        const Holding before("original");
        CFileReplacement replacement;
        ASSERT_EQ(replacement.Begin(path.c_str(), before), BUF_S_OK);
        ASSERT_EQ(replacement.Write(Holding("new")), BUF_S_WRITTEN);
        const std::string temporary = replacement.temporaryPath();
        EXPECT_NE(temporary.find("\\.cert.p12.pintool-"), std::string::npos) << temporary;
        EXPECT_NE(GetFileAttributesA(temporary.c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
        // Neither file can be read by another program meanwhile.
        for (const std::string& held : {path, temporary}) {
            const HANDLE other = CreateFileA(held.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                             OPEN_EXISTING, 0, nullptr);
            EXPECT_EQ(other, INVALID_HANDLE_VALUE) << held;
            EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION) << held;
        }
        CByteBuffer back;
        ASSERT_EQ(replacement.ReadBack(back), BUF_S_OK);
        EXPECT_EQ(std::string(back.CStr()), "new");
    }
    EXPECT_EQ(ReadAll(path), "original");
    EXPECT_EQ(dir.List(), std::vector<std::string>{"cert.p12"});
}

TEST(CFileReplacementWindows, RefusesAFileInUseOrReadOnly) {
    const TempDir dir;
    const std::string path = dir / "cert.p12";
    WriteAll(path, "original");
    {
        // Another program reading it, even with others allowed to read too.
        const HANDLE reader = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                          OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(reader, INVALID_HANDLE_VALUE);
        EXPECT_EQ(ReplaceWith(path, "original", "new"), ReplaceProblem::InUse);
        CloseHandle(reader);
    }
    ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(ReplaceWith(path, "original", "new"), ReplaceProblem::NotWritable);
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(ReplaceWith((dir / "missing.p12"), "original", "new"), ReplaceProblem::Gone);
    EXPECT_EQ(ReadAll(path), "original");
    EXPECT_EQ(dir.List().size(), 1u);
}

TEST(CFileReplacementWindows, NeverOverwritesWhatAnotherProgramWroteMeanwhile) {
    const TempDir dir;
    const std::string path = dir / "cert.p12";
    WriteAll(path, "renewed");
    EXPECT_EQ(ReplaceWith(path, "original", "new"), ReplaceProblem::Changed);
    EXPECT_EQ(ReadAll(path), "renewed");
    // Renamed away and replaced by another file between Begin and Commit.
    WriteAll(path, "original");
    const Holding before("original");
    CFileReplacement replacement;
    ASSERT_EQ(replacement.Begin(path.c_str(), before), BUF_S_OK);
    ASSERT_EQ(replacement.Write(Holding("new")), BUF_S_WRITTEN);
    ASSERT_TRUE(MoveFileA(path.c_str(), (dir / "moved.p12").c_str()));
    WriteAll(path, "original");
    EXPECT_EQ(replacement.Commit(), BUF_E_SYSTEM | ERROR_FILE_INVALID);
    EXPECT_EQ(replacement.problem(), ReplaceProblem::Changed);
    EXPECT_EQ(ReadAll(path), "original");
}

TEST(CFileReplacementWindows, RefusesAFileWithOtherNames) {
    const TempDir dir;
    const std::string path = dir / "cert.p12";
    WriteAll(path, "original");
    ASSERT_TRUE(CreateHardLinkA((dir / "other.p12").c_str(), path.c_str(), nullptr));
    EXPECT_EQ(ReplaceWith(path, "original", "new"), ReplaceProblem::HardLinks);
    EXPECT_EQ(ReadAll(path), "original");
}

TEST(CFileReplacementWindows, ReplacesFilesWithUmlautsSpacesAndLongPaths) {
    using testing_support::ExtendedWidePath;
    const TempDir dir;
    std::string deep = dir / "Zertifikate für Jürgen Ω";
    ASSERT_TRUE(CreateDirectoryW(ExtendedWidePath(deep).c_str(), nullptr));
    const std::string shallow = deep + "/Schlüssel € Ω.p12";
    while (deep.size() < 300) {  // beyond MAX_PATH
        deep += "/Ordner mit einem recht langen Namen " + std::to_string(deep.size());
        ASSERT_TRUE(CreateDirectoryW(ExtendedWidePath(deep).c_str(), nullptr));
    }
    for (const std::string& path : {shallow, deep + "/Schlüssel € Ω.p12"}) {
        const std::wstring wide = ExtendedWidePath(path);
        const auto write = [&](const char* bytes, DWORD length, DWORD disposition) {
            const HANDLE file = CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, disposition,
                                            FILE_ATTRIBUTE_NORMAL, nullptr);
            DWORD written = 0;
            const bool done = file != INVALID_HANDLE_VALUE &&
                              WriteFile(file, bytes, length, &written, nullptr) &&
                              written == length;
            CloseHandle(file);
            return done;
        };
        ASSERT_TRUE(write("original", 8, CREATE_NEW)) << path.size();
        EXPECT_EQ(ReplaceWith(path, "original", "new"), ReplaceProblem::None) << path.size();
        const HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, 0, nullptr);
        char content[16] = {};
        DWORD read = 0;
        EXPECT_TRUE(ReadFile(file, content, sizeof content, &read, nullptr));
        CloseHandle(file);
        EXPECT_EQ(std::string(content, read), "new") << path.size();
    }
}

}  // namespace
