#include <aclapi.h>
#include <gtest/gtest.h>
#include <sddl.h>

#include <algorithm>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

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

// Written, then hidden, as a change that was killed leaves its temporary file.
void WriteHidden(const std::string& path, const char* text) {
    WriteAll(path, text);
    ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_HIDDEN)) << path;
}

std::vector<std::string> Sorted(std::vector<std::string> names) {
    std::sort(names.begin(), names.end());
    return names;
}

TEST(CFileReplacementWindows, RemovesOnlyLeftoversOfTheSameFile) {
    const TempDir dir;
    const std::string path = dir / "cert.p12";
    WriteAll(path, "original");
    // Other files' names, as long as a leftover of cert.p12's: the folder's pattern matches
    // them too (in any case, and a unique part of any letters), the tool's own does not.
    std::vector<std::string> kept = {".CERT.P12.pintool-abc123", ".Cert.p12.pintool-Kd93xQ",
                                     ".cert.p12.pintool-ab_123", ".cert.p12.pintool-abc12",
                                     ".other.p12.pintool-abc123"};
    for (const std::string& name : kept) {
        WriteHidden(dir / name, "another file's");
    }
    ASSERT_TRUE(CreateDirectoryA((dir / ".cert.p12.pintool-folder").c_str(), nullptr));
    kept.push_back(".cert.p12.pintool-folder");
    kept.push_back("cert.p12");
    WriteHidden(dir / ".cert.p12.pintool-Zq81Lm", "left by a change that was killed");
    EXPECT_EQ(ReplaceWith(path, "original", "new"), ReplaceProblem::None);
    EXPECT_EQ(Sorted(dir.List()), Sorted(kept));
}

struct LocalFreer {
    void operator()(void* block) const noexcept { LocalFree(block); }
};

// The owner of a file, as the text of its SID; empty when it cannot be read.
std::string OwnerOf(const std::string& path) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD read =
        GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                              nullptr, nullptr, nullptr, &descriptor);
    const std::unique_ptr<void, LocalFreer> heldDescriptor(descriptor);
    LPSTR text = nullptr;
    if (read != ERROR_SUCCESS || !ConvertSidToStringSidA(owner, &text)) {
        return {};
    }
    const std::unique_ptr<void, LocalFreer> heldText(text);
    return text;
}

// Under Wine a file's owner is its Unix owner; root may change it through a Unix chown, which
// Wine starts like any program but does not wait for.
void ChownUnderWine(const std::string& path) {
    using UnixName = char*(CDECL*)(LPCWSTR);
    const auto unixName = reinterpret_cast<UnixName>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleA("kernel32"), "wine_get_unix_file_name")));
    const std::wstring wide = testing_support::ExtendedWidePath(path);
    char* const name = unixName == nullptr ? nullptr : unixName(wide.c_str());
    if (name == nullptr) {
        return;
    }
    std::string command = std::string(R"(Z:\bin\chown 12345 ")") + name + "\"";
    HeapFree(GetProcessHeap(), 0, name);
    const std::string before = OwnerOf(path);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                       &startup, &process)) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        for (int wait = 0; wait < 100 && OwnerOf(path) == before; ++wait) {
            Sleep(50);
        }
    }
}

// Gives a file an owner other than `own`'s where the test may: an administrator may give it to
// the Administrators group, root under Wine to another Unix user. False where neither works.
bool GiveToAnotherOwner(const std::string& path, const std::string& own) {
    PSID administrators = nullptr;
    if (ConvertStringSidToSidA("S-1-5-32-544", &administrators)) {
        const std::unique_ptr<void, LocalFreer> held(administrators);
        std::string name = path;
        SetNamedSecurityInfoA(name.data(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION,
                              administrators, nullptr, nullptr, nullptr);
    }
    if (OwnerOf(path) == OwnerOf(own)) {
        ChownUnderWine(path);
    }
    const std::string owner = OwnerOf(path);
    return !owner.empty() && owner != OwnerOf(own);
}

TEST(CFileReplacementWindows, LeavesOtherUsersLeftoversAlone) {
    const TempDir dir;
    const std::string path = dir / "cert.p12";
    WriteAll(path, "original");
    const std::string others = dir / ".cert.p12.pintool-others";
    WriteHidden(others, "another user's");
    if (!GiveToAnotherOwner(others, path)) {
        // Not a skip, which the Windows suites would count as a test that did not run.
        std::cout << "Not checked: giving a file another owner needs an administrator, or root "
                     "under Wine.\n";
        return;
    }
    EXPECT_EQ(ReplaceWith(path, "original", "new"), ReplaceProblem::None);
    EXPECT_EQ(Sorted(dir.List()), Sorted({".cert.p12.pintool-others", "cert.p12"}));
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
