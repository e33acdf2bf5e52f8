#include <aclapi.h>

#include <memory>

#include "buffer/replacement_steps.h"

// A replacement's steps on Windows: the target is held by sharing nothing but deletion, named in
// the \\?\ form, and known by volume serial number and file index.

namespace {

// Both the target and the temporary file are held with no sharing but deletion: no other
// program may read or write them, and the rename that puts the new file in place can happen
// while the old one is still held.
constexpr DWORD kHeldSharing = FILE_SHARE_DELETE;
constexpr DWORD kAnySharing = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

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

HANDLE CreateExclusive(const SystemPath& path) noexcept {
    // Hidden until it takes the target's place; only its creator's handle may use it.
    return CreateFileW(path.c_str(),
                       GENERIC_READ | GENERIC_WRITE | WRITE_DAC | WRITE_OWNER | DELETE,
                       kHeldSharing, nullptr, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr);
}

ReplaceProblem CopyAttributes(HANDLE target, HANDLE temporary) {
    // Owner, group and DACL as the target has them; a new file would otherwise have its
    // creator's and the directory's.
    PSID owner = nullptr;
    PSID group = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    constexpr SECURITY_INFORMATION kWhat =
        OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    const DWORD read =
        GetSecurityInfo(target, SE_FILE_OBJECT, kWhat, &owner, &group, &dacl, nullptr, &descriptor);
    const std::unique_ptr<void, LocalFreer> held(descriptor);
    if (read != ERROR_SUCCESS) {
        SetLastError(read);
        return ReplaceProblem::AttributesNotKept;
    }
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorControl(descriptor, &control, &revision);
    const SECURITY_INFORMATION inheritance = (control & SE_DACL_PROTECTED) != 0
                                                 ? PROTECTED_DACL_SECURITY_INFORMATION
                                                 : UNPROTECTED_DACL_SECURITY_INFORMATION;
    const DWORD written = SetSecurityInfo(temporary, SE_FILE_OBJECT, kWhat | inheritance, owner,
                                          group, dacl, nullptr);
    if (written != ERROR_SUCCESS) {
        SetLastError(written);
        return written == ERROR_INVALID_OWNER ? ReplaceProblem::OwnerNotKept
                                              : ReplaceProblem::AttributesNotKept;
    }
    // The target's attributes: the hidden one the temporary file had goes unless the target
    // has it too.
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(target, &info)) {
        return ReplaceProblem::AttributesNotKept;
    }
    FILE_BASIC_INFO basic{};
    basic.FileAttributes =
        info.dwFileAttributes == 0 ? FILE_ATTRIBUTE_NORMAL : info.dwFileAttributes;
    if (!SetFileInformationByHandle(temporary, FileBasicInfo, &basic, sizeof basic)) {
        return ReplaceProblem::AttributesNotKept;
    }
    return ReplaceProblem::None;
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
    return MoveFileExW(temporary.c_str(), target.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
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
