#include "buffer/byte_buffer.h"
#include "buffer/scoped_handle.h"

BUFRESULT ResultFromLastError() noexcept {
    const DWORD error = GetLastError();
    return error != 0 && (error & 0x80000000) == 0 ? (error | BUF_E_SYSTEM) : error;
}

BUFRESULT CByteBuffer::LoadFromFile(const char* path, DWORD offset, DWORD limit) noexcept {
    if (path == nullptr) {
        return BUF_E_INVALIDARG;
    }
    CScopedHandle file(
        CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file.valid()) {
        return ResultFromLastError();
    }
    DWORD high = 0;
    DWORD size = GetFileSize(file.get(), &high);
    // Also what a failed query gives; a block of size + 1 bytes would not fit 32 bits either.
    if (size == INVALID_FILE_SIZE && GetLastError() != ERROR_SUCCESS) {
        return BUF_E_FAIL;
    }
    // Only the low 32 bits would be read: a file of 4 GiB and more is refused, not cut.
    if (high != 0 || size == INVALID_FILE_SIZE) {
        SetLastError(ERROR_FILE_TOO_LARGE);
        return ResultFromLastError();
    }
    if (size == 0) {
        SetLength(0);
        return BUF_S_OK;
    }
    if (offset != 0) {
        if (size > offset) {
            SetFilePointer(file.get(), static_cast<LONG>(offset), nullptr, FILE_BEGIN);
            size -= offset;
        } else {
            size = 0;
        }
    }
    if (limit != 0 && size > limit) {
        size = limit;
    }
    SetLength(size);
    if (data() == nullptr) {
        Free();
        return BUF_E_OUTOFMEMORY;
    }
    DWORD read = 0;
    ReadFile(file.get(), data(), size, &read, nullptr);
    Truncate(read);
    return read == size ? BUF_S_OK : BUF_E_FAIL;
}

BUFRESULT CByteBuffer::SaveToFile(const char* path, DWORD disposition,
                                  const CByteRange* range) const noexcept {
    if (path == nullptr) {
        return BUF_E_INVALIDARG;
    }
    CScopedHandle file(
        CreateFileA(path, GENERIC_WRITE, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        return ResultFromLastError();
    }
    if (disposition == OPEN_EXISTING || disposition == OPEN_ALWAYS) {
        SetFilePointer(file.get(), 0, nullptr, FILE_END);
    }
    const BYTE* from = data();
    DWORD count = length();
    if (range != nullptr) {
        const bool fits = range->start <= length() && range->count <= length() - range->start;
        from = data() + (fits ? range->start : 0);
        count = fits ? range->count : 0;
    }
    if (count == 0) {
        return BUF_S_WRITTEN;
    }
    DWORD written = 0;
    const BOOL ok = WriteFile(file.get(), from, count, &written, nullptr);
    return ok && written == count ? BUF_S_WRITTEN : BUF_E_FAIL;
}
