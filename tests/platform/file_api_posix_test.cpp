#include "platform/file_api.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/support/test_files.h"

namespace {

using testing_support::ReadAll;
using testing_support::TempDir;
using testing_support::WriteAll;

struct Handle {
    HANDLE value;
    explicit Handle(HANDLE h) : value(h) {}
    ~Handle() {
        if (value != INVALID_HANDLE_VALUE) {
            CloseHandle(value);
        }
    }
    bool valid() const { return value != INVALID_HANDLE_VALUE; }
};

HANDLE Open(const std::string& path, DWORD access, DWORD share, DWORD disposition) {
    return CreateFileA(path.c_str(), access, share, nullptr, disposition, 0, nullptr);
}

TEST(CreateFileA, ReportsWindowsErrorCodesForWhatCannotBeOpened) {
    const TempDir dir;
    WriteAll(dir / "exists", "x");
    mkdir((dir / "folder").c_str(), 0700);
    mkfifo((dir / "pipe").c_str(), 0600);
    struct Case {
        std::string path;
        DWORD access;
        DWORD disposition;
        DWORD error;
    };
    const Case cases[] = {
        {dir / "missing", GENERIC_READ, OPEN_EXISTING, ERROR_FILE_NOT_FOUND},
        {dir / "no-such-dir/file", GENERIC_READ, OPEN_EXISTING, ERROR_PATH_NOT_FOUND},
        {dir / "no-such-dir/file", GENERIC_WRITE, CREATE_ALWAYS, ERROR_PATH_NOT_FOUND},
        {dir / "exists", GENERIC_WRITE, CREATE_NEW, ERROR_FILE_EXISTS},
        {dir / "folder", GENERIC_READ, OPEN_EXISTING, ERROR_ACCESS_DENIED},
        {dir / "folder", GENERIC_WRITE, OPEN_EXISTING, ERROR_ACCESS_DENIED},
        // Special files are refused at once; a FIFO without a writer must not block.
        {dir / "pipe", GENERIC_READ, OPEN_EXISTING, ERROR_ACCESS_DENIED},
        {"/dev/zero", GENERIC_READ, OPEN_EXISTING, ERROR_ACCESS_DENIED},
        {dir / "exists", GENERIC_READ, 7, ERROR_INVALID_PARAMETER},
    };
    for (const Case& c : cases) {
        SetLastError(0);
        const Handle file(Open(c.path, c.access, FILE_SHARE_READ, c.disposition));
        EXPECT_FALSE(file.valid()) << c.path;
        EXPECT_EQ(GetLastError(), c.error) << c.path;
    }
}

TEST(CreateFileA, DispositionsCreateTruncateOrKeepAsWindowsDefines) {
    const TempDir dir;
    WriteAll(dir / "kept", "content");
    WriteAll(dir / "truncated", "content");
    {
        const Handle a(Open(dir / "kept", GENERIC_WRITE, 0, OPEN_ALWAYS));
        const Handle b(Open(dir / "truncated", GENERIC_WRITE, 0, CREATE_ALWAYS));
        const Handle c(Open(dir / "new", GENERIC_WRITE, 0, CREATE_NEW));
        const Handle d(Open(dir / "created", GENERIC_WRITE, 0, OPEN_ALWAYS));
        ASSERT_TRUE(a.valid() && b.valid() && c.valid() && d.valid());
    }
    EXPECT_EQ(ReadAll(dir / "kept"), "content");
    EXPECT_EQ(ReadAll(dir / "truncated"), "");
    EXPECT_EQ(access((dir / "new").c_str(), F_OK), 0);
    EXPECT_EQ(access((dir / "created").c_str(), F_OK), 0);
}

TEST(CreateFileA, WriterExcludesOthersAndReadersShare) {
    const TempDir dir;
    const std::string path = dir / "file";
    WriteAll(path, "original");
    {
        const Handle reader1(Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING));
        const Handle reader2(Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING));
        EXPECT_TRUE(reader1.valid() && reader2.valid());
        // A writer that cannot have the file must not have truncated it either.
        const Handle writer(Open(path, GENERIC_WRITE, 0, CREATE_ALWAYS));
        EXPECT_FALSE(writer.valid());
        EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    }
    EXPECT_EQ(ReadAll(path), "original");
    const Handle writer(Open(path, GENERIC_WRITE, 0, OPEN_EXISTING));
    ASSERT_TRUE(writer.valid());
    const Handle reader(Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING));
    EXPECT_FALSE(reader.valid());
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
}

TEST(FileFunctions, ReadWriteAndPositionMoveTheBytesAsked) {
    const TempDir dir;
    const std::string path = dir / "file";
    {
        const Handle file(Open(path, GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW));
        DWORD count = 0;
        ASSERT_TRUE(WriteFile(file.value, "0123456789", 10, &count, nullptr));
        EXPECT_EQ(count, 10u);
        EXPECT_EQ(SetFilePointer(file.value, 4, nullptr, FILE_BEGIN), 4u);
        char buffer[16] = {};
        ASSERT_TRUE(ReadFile(file.value, buffer, sizeof buffer, &count, nullptr));
        EXPECT_EQ(count, 6u);  // end of file: success with fewer bytes
        EXPECT_STREQ(buffer, "456789");
        EXPECT_EQ(SetFilePointer(file.value, -3, nullptr, FILE_END), 7u);
        EXPECT_EQ(GetFileSize(file.value, nullptr), 10u);
    }
    EXPECT_EQ(SetFilePointer(nullptr, 0, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(FileFunctions, SizeOfAFileBeyondFourGigabytesHasAHighPart) {
    const TempDir dir;
    const std::string path = dir / "sparse";
    WriteAll(path, "");
    ASSERT_EQ(truncate(path.c_str(), (5LL << 30) + 7), 0);  // sparse: no disk used
    const Handle file(Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING));
    DWORD high = 0;
    EXPECT_EQ(GetFileSize(file.value, &high), (1u << 30) + 7);
    EXPECT_EQ(high, 1u);
}

TEST(ErrorFromErrno, DiskAndFileSystemErrorsKeepTheirWindowsMeaning) {
    EXPECT_EQ(ErrorFromErrno(ENOSPC), ERROR_DISK_FULL);
    EXPECT_EQ(ErrorFromErrno(EROFS), ERROR_WRITE_PROTECT);
    EXPECT_EQ(ErrorFromErrno(EEXIST), ERROR_FILE_EXISTS);
    EXPECT_EQ(ErrorFromErrno(EXDEV), ERROR_GEN_FAILURE);
}

}  // namespace
