#include "platform/file_api.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <string>

namespace {

thread_local DWORD lastError = ERROR_SUCCESS;

BOOL FailWithErrno() {
    SetLastError(ErrorFromErrno(errno));
    return FALSE;
}

// Windows reports a missing directory in the path as its own error, POSIX does not.
DWORD MissingFileError(LPCSTR fileName) {
    std::string directory(fileName);
    const auto slash = directory.find_last_of('/');
    if (slash == std::string::npos) {
        return ERROR_FILE_NOT_FOUND;
    }
    directory.resize(slash == 0 ? 1 : slash);
    struct stat info {};
    return stat(directory.c_str(), &info) == 0 && S_ISDIR(info.st_mode) ? ERROR_FILE_NOT_FOUND
                                                                        : ERROR_PATH_NOT_FOUND;
}

int OpenFlags(DWORD desiredAccess, DWORD creationDisposition) {
    const bool read = (desiredAccess & GENERIC_READ) != 0;
    const bool write = (desiredAccess & GENERIC_WRITE) != 0;
    int flags = read && write ? O_RDWR : write ? O_WRONLY : O_RDONLY;
    // Non-blocking so that opening a FIFO never waits; cleared again once the file is known.
    flags |= O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    switch (creationDisposition) {
        case CREATE_NEW:
            return flags | O_CREAT | O_EXCL;
        case CREATE_ALWAYS:
        case OPEN_ALWAYS:
            return flags | O_CREAT;
        case OPEN_EXISTING:
            return flags;
        default:
            return -1;
    }
}

// Only regular files are opened: a directory is "access denied" as on Windows, and devices,
// FIFOs and sockets are refused rather than read from or waited on.
bool IsRegularFile(int fd) {
    struct stat info {};
    if (fstat(fd, &info) != 0) {
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        errno = EACCES;
        return false;
    }
    return true;
}

bool LockForSharing(int fd, DWORD shareMode) {
    const int operation = ((shareMode & FILE_SHARE_READ) != 0 ? LOCK_SH : LOCK_EX) | LOCK_NB;
    int result = 0;
    do {
        result = flock(fd, operation);
    } while (result != 0 && errno == EINTR);
    return result == 0;
}

}  // namespace

// Handles carry the descriptor plus one, so that a null handle never names a descriptor.
HANDLE HandleOf(int descriptor) noexcept {
    return descriptor < 0 ? INVALID_HANDLE_VALUE
                          : reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(descriptor) + 1);
}

int DescriptorOf(HANDLE handle) noexcept {
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
        return -1;
    }
    const std::intptr_t value = reinterpret_cast<std::intptr_t>(handle) - 1;
    return value >= 0 && value <= INT_MAX ? static_cast<int>(value) : -1;
}

DWORD GetLastError() noexcept {
    return lastError;
}

void SetLastError(DWORD error) noexcept {
    lastError = error;
}

DWORD ErrorFromErrno(int error) noexcept {
    switch (error) {
        case 0:
            return ERROR_SUCCESS;
        case ENOENT:
            return ERROR_FILE_NOT_FOUND;
        case ENOTDIR:
            return ERROR_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EISDIR:
            return ERROR_ACCESS_DENIED;
        case EEXIST:
            return ERROR_FILE_EXISTS;
        case ENOSPC:
        case EDQUOT:
            return ERROR_DISK_FULL;
        case EROFS:
            return ERROR_WRITE_PROTECT;
        case EWOULDBLOCK:
            return ERROR_SHARING_VIOLATION;
        case EMFILE:
        case ENFILE:
            return ERROR_TOO_MANY_OPEN_FILES;
        case EBADF:
            return ERROR_INVALID_HANDLE;
        case ENOMEM:
            return ERROR_NOT_ENOUGH_MEMORY;
        case EINVAL:
            return ERROR_INVALID_PARAMETER;
        case ENAMETOOLONG:
            return ERROR_FILENAME_EXCED_RANGE;
        case EFBIG:
            return ERROR_FILE_TOO_LARGE;
        case ELOOP:
            return ERROR_CANT_RESOLVE_FILENAME;
        case EIO:
            return ERROR_IO_DEVICE;
        default:
            return ERROR_GEN_FAILURE;
    }
}

HANDLE CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode,
                   SECURITY_ATTRIBUTES* /*securityAttributes*/, DWORD creationDisposition,
                   DWORD /*flagsAndAttributes*/, HANDLE /*templateFile*/) noexcept {
    const int flags = OpenFlags(desiredAccess, creationDisposition);
    if (fileName == nullptr || flags == -1) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    const int fd = open(fileName, flags, 0666);
    if (fd < 0) {
        const int error = errno;
        SetLastError(error == ENOENT ? MissingFileError(fileName) : ErrorFromErrno(error));
        return INVALID_HANDLE_VALUE;
    }
    // Sharing is checked before the file is truncated, as Windows does.
    const bool usable = IsRegularFile(fd) && LockForSharing(fd, shareMode) &&
                        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) == 0 &&
                        (creationDisposition != CREATE_ALWAYS || ftruncate(fd, 0) == 0);
    if (!usable) {
        const int error = errno;
        close(fd);
        SetLastError(ErrorFromErrno(error));
        return INVALID_HANDLE_VALUE;
    }
    SetLastError(ERROR_SUCCESS);
    return HandleOf(fd);
}

BOOL ReadFile(HANDLE file, void* buffer, DWORD bytesToRead, DWORD* bytesRead,
              OVERLAPPED* /*overlapped*/) noexcept {
    const int fd = DescriptorOf(file);
    if (bytesRead != nullptr) {
        *bytesRead = 0;
    }
    if (fd < 0 || (buffer == nullptr && bytesToRead != 0)) {
        SetLastError(fd < 0 ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DWORD total = 0;
    while (total < bytesToRead) {
        const ssize_t got = read(fd, static_cast<char*>(buffer) + total, bytesToRead - total);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return FailWithErrno();
        }
        if (got == 0) {
            break;  // end of file: success with fewer bytes
        }
        total += static_cast<DWORD>(got);
        if (bytesRead != nullptr) {
            *bytesRead = total;
        }
    }
    return TRUE;
}

BOOL WriteFile(HANDLE file, const void* buffer, DWORD bytesToWrite, DWORD* bytesWritten,
               OVERLAPPED* /*overlapped*/) noexcept {
    const int fd = DescriptorOf(file);
    if (bytesWritten != nullptr) {
        *bytesWritten = 0;
    }
    if (fd < 0 || (buffer == nullptr && bytesToWrite != 0)) {
        SetLastError(fd < 0 ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DWORD total = 0;
    while (total < bytesToWrite) {
        const ssize_t put =
            write(fd, static_cast<const char*>(buffer) + total, bytesToWrite - total);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            return put < 0 ? FailWithErrno() : (SetLastError(ERROR_DISK_FULL), FALSE);
        }
        total += static_cast<DWORD>(put);
        if (bytesWritten != nullptr) {
            *bytesWritten = total;
        }
    }
    return TRUE;
}

DWORD SetFilePointer(HANDLE file, LONG distanceToMove, LONG* distanceToMoveHigh,
                     DWORD moveMethod) noexcept {
    const int fd = DescriptorOf(file);
    static constexpr int kWhence[] = {SEEK_SET, SEEK_CUR, SEEK_END};
    if (fd < 0 || moveMethod > FILE_END) {
        SetLastError(fd < 0 ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    // Without a high part the distance is a signed 32-bit value; with one, a signed 64-bit one.
    const off_t distance =
        distanceToMoveHigh == nullptr
            ? static_cast<off_t>(distanceToMove)
            : static_cast<off_t>(
                  (static_cast<std::uint64_t>(static_cast<std::uint32_t>(*distanceToMoveHigh))
                   << 32) |
                  static_cast<std::uint32_t>(distanceToMove));
    const off_t position = lseek(fd, distance, kWhence[moveMethod]);
    if (position < 0) {
        SetLastError(ErrorFromErrno(errno));
        return INVALID_SET_FILE_POINTER;
    }
    if (distanceToMoveHigh != nullptr) {
        *distanceToMoveHigh = static_cast<LONG>(static_cast<std::uint64_t>(position) >> 32);
    }
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(position);
}

DWORD GetFileSize(HANDLE file, DWORD* fileSizeHigh) noexcept {
    const int fd = DescriptorOf(file);
    struct stat info {};
    if (fd < 0 || fstat(fd, &info) != 0) {
        SetLastError(fd < 0 ? ERROR_INVALID_HANDLE : ErrorFromErrno(errno));
        return INVALID_FILE_SIZE;
    }
    const auto size = static_cast<std::uint64_t>(info.st_size);
    if (fileSizeHigh != nullptr) {
        *fileSizeHigh = static_cast<DWORD>(size >> 32);
    }
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(size);
}

BOOL CloseHandle(HANDLE object) noexcept {
    const int fd = DescriptorOf(object);
    if (fd < 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    // The descriptor is gone after close() even when it reports an error (Linux semantics).
    return close(fd) == 0 || errno == EINTR ? TRUE : FailWithErrno();
}
