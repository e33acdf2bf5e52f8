#pragma once
// Windows file functions on POSIX. A handle is an open file descriptor; sharing is mapped to
// non-blocking flock() locks so that a file being written cannot be opened by lock-respecting
// programs, while readers may overlap.

#include "platform/win32_types.h"

inline constexpr DWORD GENERIC_READ = 0x80000000;
inline constexpr DWORD GENERIC_WRITE = 0x40000000;
inline constexpr DWORD FILE_SHARE_READ = 0x00000001;
inline constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x00000080;

inline constexpr DWORD CREATE_NEW = 1;
inline constexpr DWORD CREATE_ALWAYS = 2;
inline constexpr DWORD OPEN_EXISTING = 3;
inline constexpr DWORD OPEN_ALWAYS = 4;

inline constexpr DWORD FILE_BEGIN = 0;
inline constexpr DWORD FILE_CURRENT = 1;
inline constexpr DWORD FILE_END = 2;

inline constexpr DWORD INVALID_FILE_SIZE = 0xFFFFFFFF;
inline constexpr DWORD INVALID_SET_FILE_POINTER = 0xFFFFFFFF;
inline const HANDLE INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(-1);

struct SECURITY_ATTRIBUTES;
struct OVERLAPPED;

DWORD GetLastError() noexcept;
void SetLastError(DWORD error) noexcept;

// The Windows error code that stands for a POSIX errno value.
DWORD ErrorFromErrno(int error) noexcept;

HANDLE CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode,
                   SECURITY_ATTRIBUTES* securityAttributes, DWORD creationDisposition,
                   DWORD flagsAndAttributes, HANDLE templateFile) noexcept;
BOOL ReadFile(HANDLE file, void* buffer, DWORD bytesToRead, DWORD* bytesRead,
              OVERLAPPED* overlapped) noexcept;
BOOL WriteFile(HANDLE file, const void* buffer, DWORD bytesToWrite, DWORD* bytesWritten,
               OVERLAPPED* overlapped) noexcept;
DWORD SetFilePointer(HANDLE file, LONG distanceToMove, LONG* distanceToMoveHigh,
                     DWORD moveMethod) noexcept;
DWORD GetFileSize(HANDLE file, DWORD* fileSizeHigh) noexcept;
BOOL CloseHandle(HANDLE object) noexcept;

// The descriptor behind a handle and back, for the POSIX calls the Windows functions have no
// counterpart for (rename, owner, extended attributes). -1 for an invalid handle.
int DescriptorOf(HANDLE handle) noexcept;
HANDLE HandleOf(int descriptor) noexcept;
