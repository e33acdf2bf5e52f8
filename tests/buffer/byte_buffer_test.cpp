#include "buffer/byte_buffer.h"
#include "platform/file_api.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(CByteBuffer, SetLengthKeepsABlockOnlyWhileItIsLargeEnough) {
    CByteBuffer buffer;
    ASSERT_EQ(buffer.SetLength(10), BUF_S_OK);
    std::memcpy(buffer.data(), "0123456789", 10);
    const BYTE* block = buffer.data();
    ASSERT_EQ(buffer.SetLength(5), BUF_S_OK);
    EXPECT_EQ(buffer.data(), block);
    EXPECT_EQ(buffer.capacity(), 6u);
    EXPECT_STREQ(buffer.CStr(), "01234");
    // The recorded capacity is 6 now, so 8 needs a new block.
    ASSERT_EQ(buffer.SetLength(8), BUF_S_OK);
    EXPECT_EQ(buffer.capacity(), 9u);
    EXPECT_EQ(buffer.data()[8], 0);
}

TEST(CByteBuffer, EmptyContentIsTheSharedEmptyString) {
    CByteBuffer buffer;
    EXPECT_STREQ(buffer.CStr(), "");
    ASSERT_EQ(buffer.SetLength(0), BUF_S_OK);
    ASSERT_NE(buffer.data(), nullptr);
    EXPECT_EQ(buffer.data()[0], 0);
    EXPECT_EQ(buffer.length(), 0u);
    EXPECT_NE(buffer.CStr(), reinterpret_cast<const char*>(buffer.data()));
    EXPECT_STREQ(buffer.CStr(), "");
}

TEST(CByteBuffer, LengthThatCannotBeTerminatedIsRefusedWithoutChange) {
    CByteBuffer buffer;
    buffer.Assign("abc");
    const BYTE* block = buffer.data();
    EXPECT_EQ(buffer.SetLength(0xFFFFFFFF), BUF_E_OUTOFMEMORY);
    EXPECT_EQ(buffer.data(), block);
    EXPECT_EQ(buffer.length(), 3u);
    EXPECT_EQ(buffer.capacity(), 4u);
}

TEST(CByteBuffer, TruncateIsBoundByTheRecordedCapacity) {
    CByteBuffer buffer;
    buffer.Assign("abcdef");
    buffer.Truncate(7);  // == capacity: nothing
    EXPECT_EQ(buffer.length(), 6u);
    buffer.Truncate(2);
    EXPECT_STREQ(buffer.CStr(), "ab");
    buffer.Truncate(4);  // may grow again within the block
    EXPECT_EQ(buffer.length(), 4u);
    EXPECT_EQ(buffer.data()[4], 0);
    CByteBuffer empty;
    empty.Truncate(0);
    EXPECT_EQ(empty.data(), nullptr);
}

TEST(CByteBuffer, AssignCopiesAndTerminates) {
    CByteBuffer source;
    source.Assign("Zertifikat");
    CByteBuffer copy;
    copy.Assign(source);
    EXPECT_EQ(copy.length(), 10u);
    EXPECT_NE(copy.data(), source.data());
    EXPECT_STREQ(copy.CStr(), "Zertifikat");
    copy.Assign(copy);
    EXPECT_STREQ(copy.CStr(), "Zertifikat");
    copy.Assign("abc");
    EXPECT_EQ(copy.length(), 3u);
    EXPECT_EQ(copy.data()[3], 0);
    copy.Assign(static_cast<const char*>(nullptr));
    EXPECT_EQ(copy.data(), nullptr);
    EXPECT_EQ(copy.length(), 0u);
    EXPECT_EQ(copy.capacity(), 0u);
}

TEST(CByteBuffer, IsThePlatformBlobItself) {
    CByteBuffer buffer;
    CRYPT_DATA_BLOB* blob = buffer.Blob();
    EXPECT_EQ(static_cast<void*>(blob), static_cast<void*>(&buffer));
    blob->cbData = 1234;  // what a size query writes back
    EXPECT_EQ(buffer.length(), 1234u);
    EXPECT_EQ(buffer.data(), nullptr);
    ASSERT_EQ(buffer.SetLength(buffer.length()), BUF_S_OK);
    EXPECT_EQ(blob->pbData, buffer.data());
}

TEST(ResultFromLastError, MapsSystemErrorsIntoTheSystemRange) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(ResultFromLastError(), 0xEFFF0002u);
    SetLastError(0);
    EXPECT_EQ(ResultFromLastError(), 0u);
    SetLastError(NTE_FAIL);
    EXPECT_EQ(ResultFromLastError(), NTE_FAIL);
}

}  // namespace
