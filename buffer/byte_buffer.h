#pragma once
// The tool's container for raw bytes. Its first member is the platform's data blob, so the
// address of a buffer can be handed to the PKCS#12 functions, and a count they write back
// becomes the buffer's length. The content is always followed by a zero byte.

#include "pkcs12/crypt32.h"

using BUFRESULT = DWORD;

inline constexpr BUFRESULT BUF_S_OK = 0x00000001;
inline constexpr BUFRESULT BUF_S_WRITTEN = 0x21000001;
inline constexpr BUFRESULT BUF_E_FAIL = 0xE100FFFF;
inline constexpr BUFRESULT BUF_E_INVALIDARG = 0xE100FFFC;
inline constexpr BUFRESULT BUF_E_OUTOFMEMORY = 0xE100FFFA;
inline constexpr BUFRESULT BUF_E_SYSTEM = 0xEFFF0000;

// A part of the content for SaveToFile.
struct CByteRange {
    DWORD start;
    DWORD count;
};

class CByteBuffer {
public:
    CByteBuffer() noexcept = default;
    CByteBuffer(const CByteBuffer&) = delete;  // copies are made by Assign only
    CByteBuffer& operator=(const CByteBuffer&) = delete;
    ~CByteBuffer() { Free(); }

    DWORD length() const noexcept { return m_blob.cbData; }
    BYTE* data() noexcept { return m_blob.pbData; }
    const BYTE* data() const noexcept { return m_blob.pbData; }
    DWORD capacity() const noexcept { return m_capacity; }

    // The buffer as the platform's blob: the same address, by the layout asserted in the .cpp.
    CRYPT_DATA_BLOB* Blob() noexcept { return &m_blob; }
    const CRYPT_DATA_BLOB* Blob() const noexcept { return &m_blob; }

    BUFRESULT SetLength(DWORD length) noexcept;
    void Truncate(DWORD position) noexcept;
    void Free() noexcept;
    void Assign(const CByteBuffer& other) noexcept;
    void Assign(const char* text) noexcept;
    const char* CStr() const noexcept;

    // offset 0: from the start; limit 0: no limit.
    BUFRESULT LoadFromFile(const char* path, DWORD offset, DWORD limit) noexcept;
    BUFRESULT SaveToFile(const char* path, DWORD disposition,
                         const CByteRange* range = nullptr) const noexcept;

private:
    CRYPT_DATA_BLOB m_blob{0, nullptr};  // cbData is the length, pbData the block
    DWORD m_capacity = 0;                // block size counting the terminator; 0 without block

    static void CheckLayout() noexcept;
};

// The platform's last error as a result code.
BUFRESULT ResultFromLastError() noexcept;
