#include "buffer/byte_buffer.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <type_traits>

void CByteBuffer::CheckLayout() noexcept {
    // A standard-layout object and its first member share their address, so handing
    // Blob() where a blob is expected is handing the buffer itself.
    static_assert(std::is_standard_layout_v<CByteBuffer>);
    static_assert(offsetof(CByteBuffer, m_blob) == 0);
    static_assert(offsetof(CRYPT_DATA_BLOB, cbData) == 0);
    static_assert(sizeof(CRYPT_DATA_BLOB::cbData) == 4);
}

BUFRESULT CByteBuffer::SetLength(DWORD length) noexcept {
    // length + 1 must fit the recorded capacity.
    if (length == 0xFFFFFFFF) {
        return BUF_E_OUTOFMEMORY;
    }
    if (m_capacity == 0 || m_blob.pbData == nullptr) {
        m_capacity = 0;
    } else if (m_capacity <= length) {
        std::free(m_blob.pbData);
        m_blob = {0, nullptr};
        m_capacity = 0;
    }
    if (m_capacity <= length) {
        auto* block = static_cast<BYTE*>(std::malloc(static_cast<size_t>(length) + 1));
        if (block == nullptr) {
            return BUF_E_OUTOFMEMORY;
        }
        m_blob.pbData = block;
    }
    m_blob.cbData = length;
    m_capacity = length + 1;
    m_blob.pbData[length] = 0;
    return BUF_S_OK;
}

void CByteBuffer::Truncate(DWORD position) noexcept {
    if (m_blob.pbData != nullptr && position < m_capacity) {
        m_blob.cbData = position;
        m_blob.pbData[position] = 0;
    }
}

void CByteBuffer::Free() noexcept {
    std::free(m_blob.pbData);
    m_blob = {0, nullptr};
    m_capacity = 0;
}

void CByteBuffer::Assign(const CByteBuffer& other) noexcept {
    if (&other == this) {
        return;
    }
    if (SetLength(other.length()) != BUF_S_OK) {
        return;
    }
    if (other.length() != 0) {
        std::memcpy(m_blob.pbData, other.data(), other.length());
    }
    m_blob.pbData[m_blob.cbData] = 0;
}

void CByteBuffer::Assign(const char* text) noexcept {
    if (text == nullptr) {
        Free();
        return;
    }
    const size_t length = std::strlen(text);
    if (length >= 0xFFFFFFFF) {
        return;  // cannot be held; like a failed allocation
    }
    const auto count = static_cast<DWORD>(length);
    SetLength(count);
    if (m_blob.pbData == nullptr) {
        return;
    }
    std::memcpy(m_blob.pbData, text, count);
    Truncate(count);
}

const char* CByteBuffer::CStr() const noexcept {
    static constexpr char kEmpty[] = "";
    return m_blob.cbData != 0 ? reinterpret_cast<const char*>(m_blob.pbData) : kEmpty;
}
