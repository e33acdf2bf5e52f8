#pragma once
// Owns a file handle and closes it when it goes out of scope.

#include "platform/file_api.h"

class CScopedHandle {
public:
    explicit CScopedHandle(HANDLE handle) noexcept : m_handle(handle) {}
    CScopedHandle(const CScopedHandle&) = delete;
    CScopedHandle& operator=(const CScopedHandle&) = delete;
    ~CScopedHandle() { Close(); }

    HANDLE get() const noexcept { return m_handle; }
    bool valid() const noexcept { return m_handle != INVALID_HANDLE_VALUE; }

    // Takes over another handle, closing the one held.
    void Reset(HANDLE handle) noexcept {
        Close();
        m_handle = handle;
    }

    // Gives the handle up without closing it.
    HANDLE Release() noexcept {
        const HANDLE handle = m_handle;
        m_handle = INVALID_HANDLE_VALUE;
        return handle;
    }

    // Closes now, keeping the platform's last error of the operation before.
    void Close() noexcept {
        if (valid()) {
            const DWORD error = GetLastError();
            CloseHandle(m_handle);
            SetLastError(error);
            m_handle = INVALID_HANDLE_VALUE;
        }
    }

private:
    HANDLE m_handle;
};
