#include <gtest/gtest.h>

#include <filesystem>

#include "buffer/byte_buffer.h"
#include "platform/file_api.h"
#include "tests/support/test_files.h"

namespace {

using testing_support::ReadAll;
using testing_support::TempDir;
using testing_support::WriteAll;

std::string Content(const CByteBuffer& buffer) {
    return std::string(buffer.CStr(), buffer.length());
}

TEST(LoadFromFile, ReadsFromTheOffsetUpToTheLimit) {
    const TempDir dir;
    const std::string path = dir / "file";
    WriteAll(path, std::string("0123456789\0tail", 15));
    CByteBuffer buffer;
    ASSERT_EQ(buffer.LoadFromFile(path.c_str(), 0, 0), BUF_S_OK);
    EXPECT_EQ(Content(buffer), std::string("0123456789\0tail", 15));
    EXPECT_EQ(buffer.data()[15], 0);
    ASSERT_EQ(buffer.LoadFromFile(path.c_str(), 3, 4), BUF_S_OK);
    EXPECT_EQ(Content(buffer), "3456");
    ASSERT_EQ(buffer.LoadFromFile(path.c_str(), 15, 0), BUF_S_OK);
    EXPECT_EQ(buffer.length(), 0u);
    ASSERT_EQ(buffer.LoadFromFile(path.c_str(), 99, 0), BUF_S_OK);
    EXPECT_EQ(buffer.length(), 0u);
}

TEST(LoadFromFile, EmptyFileEmptiesTheBuffer) {
    const TempDir dir;
    WriteAll(dir / "empty", "");
    CByteBuffer buffer;
    buffer.Assign("previous");
    ASSERT_EQ(buffer.LoadFromFile((dir / "empty").c_str(), 0, 0), BUF_S_OK);
    EXPECT_EQ(buffer.length(), 0u);
}

TEST(LoadFromFile, FailuresLeaveTheBufferAsItWas) {
    const TempDir dir;
    CByteBuffer buffer;
    buffer.Assign("previous");
    EXPECT_EQ(buffer.LoadFromFile((dir / "missing").c_str(), 0, 0), 0xEFFF0002u);
    EXPECT_EQ(buffer.LoadFromFile(dir.path().c_str(), 0, 0), 0xEFFF0005u);
    EXPECT_EQ(buffer.LoadFromFile(nullptr, 0, 0), BUF_E_INVALIDARG);
    // A size whose low 32 bits are all set cannot be held with its terminator, and one
    // beyond 32 bits would be read cut to its low bits.
    const std::string sparse = dir / "sparse";
    WriteAll(sparse, "");
    for (const long long size : {0xFFFFFFFFLL, (4LL << 30) + 100}) {
        std::filesystem::resize_file(sparse, static_cast<std::uintmax_t>(size));
        EXPECT_EQ(buffer.LoadFromFile(sparse.c_str(), 0, 0), BUF_E_SYSTEM | ERROR_FILE_TOO_LARGE)
            << size;
        EXPECT_EQ(Content(buffer), "previous");
    }
    // The handle was closed: the file can be opened exclusively now.
    const HANDLE file =
        CreateFileA(sparse.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
}

TEST(LoadFromFile, FailsWhileTheFileIsBeingWritten) {
    const TempDir dir;
    const std::string path = dir / "file";
    WriteAll(path, "content");
    const HANDLE writer =
        CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    CByteBuffer buffer;
    EXPECT_EQ(buffer.LoadFromFile(path.c_str(), 0, 0), BUF_E_SYSTEM | ERROR_SHARING_VIOLATION);
    CloseHandle(writer);
    EXPECT_EQ(buffer.LoadFromFile(path.c_str(), 0, 0), BUF_S_OK);
}

TEST(SaveToFile, WritesTheContentAsTheDispositionSays) {
    const TempDir dir;
    const std::string path = dir / "file";
    WriteAll(path, "a much longer original content");
    CByteBuffer buffer;
    buffer.Assign("new");
    ASSERT_EQ(buffer.SaveToFile(path.c_str(), CREATE_ALWAYS), BUF_S_WRITTEN);
    EXPECT_EQ(ReadAll(path), "new");
    ASSERT_EQ(buffer.SaveToFile(path.c_str(), OPEN_ALWAYS), BUF_S_WRITTEN);
    EXPECT_EQ(ReadAll(path), "newnew");
    ASSERT_EQ(buffer.SaveToFile(path.c_str(), OPEN_EXISTING), BUF_S_WRITTEN);
    EXPECT_EQ(ReadAll(path), "newnewnew");
    EXPECT_EQ(buffer.SaveToFile(path.c_str(), CREATE_NEW), BUF_E_SYSTEM | ERROR_FILE_EXISTS);
    EXPECT_EQ(buffer.SaveToFile((dir / "missing").c_str(), OPEN_EXISTING), 0xEFFF0002u);
    EXPECT_EQ(buffer.SaveToFile(nullptr, CREATE_ALWAYS), BUF_E_INVALIDARG);
    CByteBuffer empty;
    ASSERT_EQ(empty.SaveToFile(path.c_str(), CREATE_ALWAYS), BUF_S_WRITTEN);
    EXPECT_EQ(ReadAll(path), "");
}

TEST(SaveToFile, WritesARangeOnlyWhenItFits) {
    const TempDir dir;
    const std::string path = dir / "file";
    CByteBuffer buffer;
    buffer.Assign("0123456789");
    const CByteRange middle{2, 5};
    ASSERT_EQ(buffer.SaveToFile(path.c_str(), CREATE_ALWAYS, &middle), BUF_S_WRITTEN);
    EXPECT_EQ(ReadAll(path), "23456");
    const CByteRange beyond{8, 3};
    const CByteRange overflowing{5, 0xFFFFFFFF};
    ASSERT_EQ(buffer.SaveToFile(path.c_str(), CREATE_ALWAYS, &beyond), BUF_S_WRITTEN);
    EXPECT_EQ(ReadAll(path), "");
    ASSERT_EQ(buffer.SaveToFile(path.c_str(), CREATE_ALWAYS, &overflowing), BUF_S_WRITTEN);
    EXPECT_EQ(ReadAll(path), "");
}

}  // namespace
