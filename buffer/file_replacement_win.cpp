#include <aclapi.h>
#include <winioctl.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "buffer/replacement_steps.h"
#include "file_storage.h"

// A replacement's steps on Windows: the target is held by sharing nothing but deletion, named in
// the \\?\ form, and known by volume serial number and file index.

namespace {

// Both the target and the temporary file are held with no sharing but deletion: no other
// program may read or write them, and the rename that puts the new file in place can happen
// while the old one is still held.
constexpr DWORD kHeldSharing = FILE_SHARE_DELETE;
constexpr DWORD kAnySharing = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// The attributes a program can set; the others say how the file is stored.
constexpr DWORD kSettableAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                      FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                      FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
                                      FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
// The unnamed stream, the file's content, as FileStreamInfo names it.
constexpr std::wstring_view kContentStream = L"::$DATA";

std::wstring WideFromAnsi(const char* text) {
    const int needed = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text, -1, nullptr, 0);
    if (needed <= 0) {
        return {};
    }
    std::wstring wide(static_cast<size_t>(needed), L'\0');
    MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text, -1, wide.data(), needed);
    wide.pop_back();
    return wide;
}

// The full path in the \\?\ form, which no MAX_PATH limits; empty when there is none.
std::wstring ExtendedPath(const std::wstring& path) {
    if (path.starts_with(LR"(\\?\)")) {
        return path;
    }
    const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0) {
        return {};
    }
    std::wstring full(needed, L'\0');
    const DWORD length = GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
    if (length == 0 || length >= needed) {
        return {};
    }
    full.resize(length);
    return full.starts_with(LR"(\\)") ? LR"(\\?\UNC\)" + full.substr(2) : LR"(\\?\)" + full;
}

// The path the system gives an open file, links and short names resolved.
std::wstring FinalPath(HANDLE file) {
    const DWORD needed = GetFinalPathNameByHandleW(file, nullptr, 0, VOLUME_NAME_DOS);
    if (needed == 0) {
        return {};
    }
    std::wstring path(needed, L'\0');
    const DWORD length = GetFinalPathNameByHandleW(file, path.data(), needed, VOLUME_NAME_DOS);
    if (length == 0 || length >= needed) {
        return {};
    }
    path.resize(length);
    return path;
}

CFileIdentity IdentityOf(const BY_HANDLE_FILE_INFORMATION& info) noexcept {
    return {.volume = info.dwVolumeSerialNumber,
            .index = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow,
            .links = info.nNumberOfLinks,
            .readOnly = (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0};
}

struct LocalFreer {
    void operator()(void* block) const noexcept { LocalFree(block); }
};

struct SearchCloser {
    void operator()(HANDLE search) const noexcept { FindClose(search); }
};

// The process's user, as its token names it.
bool IsProcessUser(PSID sid) noexcept {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return false;
    }
    const CScopedHandle held(token);
    alignas(TOKEN_USER) BYTE user[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE] = {};
    DWORD length = 0;
    return GetTokenInformation(token, TokenUser, user, sizeof user, &length) &&
           EqualSid(reinterpret_cast<const TOKEN_USER*>(user)->User.Sid, sid);
}

bool BasicInfo(HANDLE file, FILE_BASIC_INFO& info) noexcept {
    return GetFileInformationByHandleEx(file, FileBasicInfo, &info, sizeof info) != FALSE;
}

DWORD AttributesOf(HANDLE file) noexcept {
    FILE_BASIC_INFO info{};
    return BasicInfo(file, info) ? info.FileAttributes : 0;
}

// Owner, group and DACL as the target has them; a new file would otherwise have its creator's
// and the directory's. The target's descriptor is set as it is, whether its DACL is protected
// and which of its entries are inherited included: both files are in the same folder. (Wine
// takes no DACL through SetSecurityInfo on a handle.)
ReplaceProblem CopySecurity(HANDLE target, HANDLE temporary) {
    constexpr SECURITY_INFORMATION kWhat =
        OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD read = GetSecurityInfo(target, SE_FILE_OBJECT, kWhat, nullptr, nullptr, nullptr,
                                       nullptr, &descriptor);
    const std::unique_ptr<void, LocalFreer> held(descriptor);
    if (read != ERROR_SUCCESS) {
        SetLastError(read);
        return ReplaceProblem::AttributesNotKept;
    }
    if (!SetKernelObjectSecurity(temporary, kWhat, descriptor)) {
        return GetLastError() == ERROR_INVALID_OWNER ? ReplaceProblem::OwnerNotKept
                                                     : ReplaceProblem::AttributesNotKept;
    }
    return ReplaceProblem::None;
}

// Compressed as the target is, or not: the folder's compression, which a new file takes,
// may differ.
bool CopyCompression(DWORD wanted, HANDLE temporary) noexcept {
    if (((wanted ^ AttributesOf(temporary)) & FILE_ATTRIBUTE_COMPRESSED) == 0) {
        return true;
    }
    USHORT format = (wanted & FILE_ATTRIBUTE_COMPRESSED) != 0 ? COMPRESSION_FORMAT_DEFAULT
                                                              : COMPRESSION_FORMAT_NONE;
    DWORD returned = 0;
    return DeviceIoControl(temporary, FSCTL_SET_COMPRESSION, &format, sizeof format, nullptr, 0,
                           &returned, nullptr) != FALSE;
}

// The names of a file's named streams (":Zone.Identifier:$DATA"), its content not among them.
bool NamedStreams(HANDLE file, std::vector<std::wstring>& names) {
    std::vector<std::uint64_t> entries(512);  // aligned as FILE_STREAM_INFO is
    while (!GetFileInformationByHandleEx(file, FileStreamInfo, entries.data(),
                                         static_cast<DWORD>(entries.size() * sizeof entries[0]))) {
        if (GetLastError() == ERROR_HANDLE_EOF) {
            return true;  // no streams at all
        }
        if (GetLastError() != ERROR_MORE_DATA || entries.size() > (1u << 20)) {
            return false;
        }
        entries.resize(entries.size() * 4);
    }
    const auto* bytes = reinterpret_cast<const BYTE*>(entries.data());
    for (DWORD at = 0;;) {
        const auto* entry = reinterpret_cast<const FILE_STREAM_INFO*>(bytes + at);
        const std::wstring name(entry->StreamName, entry->StreamNameLength / sizeof(WCHAR));
        if (name != kContentStream) {
            names.push_back(name);
        }
        if (entry->NextEntryOffset == 0) {
            return true;
        }
        at += entry->NextEntryOffset;
    }
}

bool CopyStream(const std::wstring& from, const std::wstring& to) {
    const CScopedHandle source(CreateFileW(from.c_str(), GENERIC_READ, kAnySharing, nullptr,
                                           OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    const CScopedHandle copy(
        CreateFileW(to.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    if (!source.valid() || !copy.valid()) {
        return false;
    }
    std::vector<BYTE> chunk(64 * 1024);
    for (;;) {
        DWORD read = 0;
        DWORD written = 0;
        if (!ReadFile(source.get(), chunk.data(), static_cast<DWORD>(chunk.size()), &read,
                      nullptr)) {
            return false;
        }
        if (read == 0) {
            return true;
        }
        if (!WriteFile(copy.get(), chunk.data(), read, &written, nullptr) || written != read) {
            return false;
        }
    }
}

// The target's named streams, which other programs keep with the file (the zone a download
// came from, tags), copied to the temporary file. A volume without named streams has none.
bool CopyStreams(HANDLE target, HANDLE temporary) {
    DWORD features = 0;
    if (!GetVolumeInformationByHandleW(target, nullptr, 0, nullptr, nullptr, &features, nullptr,
                                       0)) {
        return false;
    }
    std::vector<std::wstring> names;
    if ((features & FILE_NAMED_STREAMS) == 0 || !NamedStreams(target, names)) {
        return (features & FILE_NAMED_STREAMS) == 0;
    }
    const std::wstring from = FinalPath(target);
    const std::wstring to = FinalPath(temporary);
    return std::all_of(names.begin(), names.end(), [&](const std::wstring& name) {
        return !from.empty() && !to.empty() && CopyStream(from + name, to + name);
    });
}

// Whether the user may delete the file at `path`: open by another program, it may be.
bool MayDelete(const SystemPath& path) noexcept {
    const CScopedHandle file(CreateFileW(path.c_str(), DELETE, kAnySharing, nullptr, OPEN_EXISTING,
                                         FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    return file.valid() || GetLastError() == ERROR_SHARING_VIOLATION;
}

}  // namespace

namespace replacement_steps {

bool Resolve(const char* path, SystemPath& resolved) {
    resolved = ExtendedPath(WideFromAnsi(path));
    if (resolved.empty()) {
        SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    return true;
}

HANDLE OpenHeld(SystemPath& path) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, kHeldSharing,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    // Wine gives no final path beyond MAX_PATH; such a path is taken as given.
    if (file != INVALID_HANDLE_VALUE) {
        if (std::wstring final = FinalPath(file); !final.empty()) {
            path = std::move(final);
        }
    }
    return file;
}

bool IdentifyHeld(HANDLE file, CFileIdentity& identity) noexcept {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(file, &info)) {
        return false;
    }
    identity = IdentityOf(info);
    return true;
}

bool IdentifyNamed(const SystemPath& path, CFileIdentity& identity) noexcept {
    // Reading attributes is not subject to sharing: the name can be looked at while held.
    const CScopedHandle named(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, kAnySharing, nullptr,
                                          OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return named.valid() && IdentifyHeld(named.get(), identity);
}

bool ContinuesCharacter(wchar_t unit) noexcept {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

std::vector<SystemPath> NamesStartingWith(const SystemPath& directory, const SystemPath& prefix) {
    // The pattern also matches names in other case, and short names.
    WIN32_FIND_DATAW found{};
    const HANDLE search = FindFirstFileW((directory + prefix + L"*").c_str(), &found);
    std::vector<SystemPath> names;
    if (search != INVALID_HANDLE_VALUE) {
        const std::unique_ptr<void, SearchCloser> held(search);
        do {
            names.emplace_back(found.cFileName);
        } while (FindNextFileW(search, &found));
    }
    return names;
}

bool IsOwnFile(const SystemPath& path) noexcept {
    // The name itself, should it be a link; reading attributes and the owner needs no sharing.
    const CScopedHandle file(CreateFileW(
        path.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES, kAnySharing, nullptr, OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!file.valid() || !GetFileInformationByHandle(file.get(), &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
        return false;
    }
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD read = GetSecurityInfo(file.get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION,
                                       &owner, nullptr, nullptr, nullptr, &descriptor);
    const std::unique_ptr<void, LocalFreer> held(descriptor);
    return read == ERROR_SUCCESS && owner != nullptr && IsProcessUser(owner);
}

bool RemoveFile(const SystemPath& path) noexcept {
    return DeleteFileW(path.c_str()) != FALSE;
}

bool MayPass(DWORD error) noexcept {
    // A rename over a file that is open, and the opening of a file another program holds
    // without sharing, are refused with these.
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ||
           error == ERROR_LOCK_VIOLATION;
}

HANDLE CreateExclusive(const SystemPath& path, HANDLE like) noexcept {
    FILE_BASIC_INFO wanted{};
    if (!BasicInfo(like, wanted)) {
        return INVALID_HANDLE_VALUE;
    }
    // Hidden until it takes the target's place; only its creator's handle may use it. EFS
    // encrypts a file from its creation when asked to.
    const DWORD encrypted = wanted.FileAttributes & FILE_ATTRIBUTE_ENCRYPTED;
    CScopedHandle file(
        CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE | WRITE_DAC | WRITE_OWNER | DELETE,
                    kHeldSharing, nullptr, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN | encrypted, nullptr));
    if (!file.valid() || (AttributesOf(file.get()) & encrypted) == encrypted) {
        return file.Release();
    }
    // Created in clear: it goes, empty, as its handle closes.
    FILE_DISPOSITION_INFO discard{};
    discard.DeleteFile = TRUE;
    SetFileInformationByHandle(file.get(), FileDispositionInfo, &discard, sizeof discard);
    file.Close();
    SetLastError(ERROR_ENCRYPTION_FAILED);
    return INVALID_HANDLE_VALUE;
}

ReplaceProblem CopyAttributes(HANDLE target, HANDLE temporary) {
    if (const ReplaceProblem security = CopySecurity(target, temporary);
        security != ReplaceProblem::None) {
        return security;
    }
    FILE_BASIC_INFO wanted{};
    if (!BasicInfo(target, wanted) || !CopyCompression(wanted.FileAttributes, temporary) ||
        !CopyStreams(target, temporary)) {
        return ReplaceProblem::AttributesNotKept;
    }
    // The creation time and the attributes a program sets: the hidden one the temporary file
    // had goes unless the target has it too. Times left 0 are not changed.
    FILE_BASIC_INFO basic{};
    basic.CreationTime = wanted.CreationTime;
    basic.FileAttributes = (wanted.FileAttributes & kSettableAttributes) != 0
                               ? wanted.FileAttributes & kSettableAttributes
                               : FILE_ATTRIBUTE_NORMAL;
    if (!SetFileInformationByHandle(temporary, FileBasicInfo, &basic, sizeof basic)) {
        return ReplaceProblem::AttributesNotKept;
    }
    const ReplaceProblem stored = StorageKept(wanted.FileAttributes, AttributesOf(temporary));
    if (stored != ReplaceProblem::None) {
        SetLastError(ERROR_FILE_INVALID);
    }
    return stored;
}

bool Flush(HANDLE file) noexcept {
    return FlushFileBuffers(file) != FALSE;
}

bool IsDiskFull(DWORD error) noexcept {
    return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL;
}

bool RenameOver(CScopedHandle& temporaryFile, CScopedHandle& targetFile,
                const SystemPath& temporary, const SystemPath& target) noexcept {
    // Windows renames a file over another only while neither is open: both are let go for the
    // rename alone, the temporary file complete and flushed, the target checked just now.
    temporaryFile.Close();
    targetFile.Close();
    if (MoveFileExW(temporary.c_str(), target.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return true;
    }
    // Windows refuses to rename over a file that is open with ERROR_ACCESS_DENIED, as it
    // refuses a user without the right. Where the user may delete both files, it was another
    // program's hold: a virus scanner's, an indexer's, a sync client's.
    if (GetLastError() == ERROR_ACCESS_DENIED && MayDelete(temporary) && MayDelete(target)) {
        SetLastError(ERROR_SHARING_VIOLATION);
    }
    return false;
}

void FlushDirectory(const SystemPath& /*directory*/) noexcept {
    // MOVEFILE_WRITE_THROUGH returns only once the rename is on disk.
}

std::string AnsiPath(const SystemPath& path) {
    const int needed =
        WideCharToMultiByte(CP_ACP, 0, path.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) {
        return {};
    }
    std::string text(static_cast<size_t>(needed), '\0');
    WideCharToMultiByte(CP_ACP, 0, path.c_str(), -1, text.data(), needed, nullptr, nullptr);
    text.pop_back();
    return text;
}

}  // namespace replacement_steps
