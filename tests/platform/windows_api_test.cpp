#include <gtest/gtest.h>

#include <string>

#include "pkcs12/crypt32.h"
#include "platform/file_api.h"
#include "platform/string_api.h"
#include "tests/support/test_files.h"

// What the tool relies on of Windows itself: the code page its manifest selects, the sharing
// and attributes of the system's file functions, and names beyond Windows-1252 and MAX_PATH.

namespace {

using testing_support::ReadAll;
using testing_support::TempDir;
using testing_support::WriteAll;

struct Handle {
    HANDLE value;
    explicit Handle(HANDLE h) : value(h) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() {
        if (value != INVALID_HANDLE_VALUE) {
            CloseHandle(value);
        }
    }
    bool valid() const { return value != INVALID_HANDLE_VALUE; }
};

HANDLE Open(const std::string& path, DWORD access, DWORD share, DWORD disposition) {
    return CreateFileA(path.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

TEST(WindowsApi, TheAnsiCodePageIsUtf8) {
    EXPECT_EQ(GetACP(), static_cast<UINT>(CP_UTF8));
}

TEST(WindowsApi, TheToolsPkcs12FunctionsAreItsOwn) {
    // <wincrypt.h> stays out: these are the tool's constants, not macros of the system's.
    EXPECT_EQ(CRYPT_EXPORTABLE, 0x00000001u);
    EXPECT_EQ(EXPORT_PRIVATE_KEYS, 0x00000004u);
    CRYPT_DATA_BLOB none{0, nullptr};
    EXPECT_FALSE(PFXIsPFXBlob(&none));
    EXPECT_EQ(PFXImportCertStore(&none, L"PIN", CRYPT_EXPORTABLE), nullptr);
}

TEST(WindowsApi, AWriterWithoutSharingShutsOutASecondHandle) {
    const TempDir dir;
    const std::string path = dir / "file";
    WriteAll(path, "original");
    {
        const Handle writer(Open(path, GENERIC_WRITE, 0, OPEN_EXISTING));
        ASSERT_TRUE(writer.valid());
        const Handle reader(Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING));
        EXPECT_FALSE(reader.valid());
        EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
        // A second writer that cannot have the file must not have truncated it either.
        const Handle second(Open(path, GENERIC_WRITE, 0, CREATE_ALWAYS));
        EXPECT_FALSE(second.valid());
        EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    }
    EXPECT_EQ(ReadAll(path), "original");
    const Handle reader1(Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING));
    const Handle reader2(Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING));
    EXPECT_TRUE(reader1.valid() && reader2.valid());
}

TEST(WindowsApi, AnsiNamesHoldCharactersBeyondWindows1252) {
    const TempDir dir;
    const std::string folder = dir / "Zertifikate für Jürgen Ω";
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    const std::string path = folder + "/Schlüssel €.p12";
    {
        const Handle file(Open(path, GENERIC_WRITE, 0, CREATE_NEW));
        ASSERT_TRUE(file.valid()) << GetLastError();
        DWORD written = 0;
        EXPECT_TRUE(WriteFile(file.value, "Inhalt", 6, &written, nullptr));
    }
    // The name on disk is the UTF-16 form of the UTF-8 one.
    WIN32_FIND_DATAW found{};
    const HANDLE search = FindFirstFileW(testing_support::ExtendedWidePath(path).c_str(), &found);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    FindClose(search);
    EXPECT_EQ(std::wstring(found.cFileName), L"Schlüssel €.p12");
    EXPECT_EQ(ReadAll(path), "Inhalt");
}

}  // namespace
