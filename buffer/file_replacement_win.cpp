#include <aclapi.h>

#include <memory>
#include <new>
#include <random>

#include "buffer/file_replacement.h"

namespace {

// Keeps the temporary name within what file systems allow however long the target's name is.
constexpr size_t kMaxBaseInName = 200;
constexpr wchar_t kTemporaryMark[] = L".pintool-";
constexpr size_t kUniqueLength = 6;
constexpr int kNameAttempts = 100;

// Both the target and the temporary file are held with no sharing but deletion: no other
// program may read or write them, and the rename that puts the new file in place can happen
// while the old one is still held.
constexpr DWORD kHeldSharing = FILE_SHARE_DELETE;

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

std::string AnsiFromWide(const std::wstring& wide) {
    const int needed =
        WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) {
        return {};
    }
    std::string text(static_cast<size_t>(needed), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, text.data(), needed, nullptr, nullptr);
    text.pop_back();
    return text;
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

size_t NameStart(const std::wstring& path) {
    const size_t separator = path.find_last_of(L"\\/");
    return separator == std::wstring::npos ? 0 : separator + 1;
}

// At most `limit` UTF-16 units of a name, never ending between the two halves of a pair.
std::wstring CutAtCharacter(const std::wstring& name, size_t limit) {
    size_t cut = std::min(limit, name.size());
    if (cut > 0 && cut < name.size() && name[cut] >= 0xDC00 && name[cut] <= 0xDFFF) {
        --cut;
    }
    return name.substr(0, cut);
}

// ".NAME.pintool-": what the temporary files of a target are called, before their unique part.
std::wstring TemporaryPrefix(const std::wstring& target) {
    return L"." + CutAtCharacter(target.substr(NameStart(target)), kMaxBaseInName) + kTemporaryMark;
}

std::wstring UniquePart(std::mt19937& random) {
    static constexpr wchar_t kCharacters[] =
        L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::uniform_int_distribution<size_t> pick(0, std::size(kCharacters) - 2);
    std::wstring unique;
    for (size_t i = 0; i < kUniqueLength; ++i) {
        unique += kCharacters[pick(random)];
    }
    return unique;
}

// A change that was killed leaves its temporary file; the next change of the same file removes
// those it may delete. While the target is held no other change of it is under way.
void RemoveLeftovers(const std::wstring& directory, const std::wstring& prefix) {
    WIN32_FIND_DATAW found{};
    const std::wstring pattern = directory + L"\\" + prefix + L"*";
    const HANDLE search = FindFirstFileW(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return;
    }
    do {
        const std::wstring name = found.cFileName;
        if (name.size() == prefix.size() + kUniqueLength &&
            (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            DeleteFileW((directory + L"\\" + name).c_str());
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

bool SameFile(const BY_HANDLE_FILE_INFORMATION& first, const BY_HANDLE_FILE_INFORMATION& second) {
    return first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
           first.nFileIndexHigh == second.nFileIndexHigh &&
           first.nFileIndexLow == second.nFileIndexLow;
}

ReplaceProblem ProblemFromError(DWORD error, ReplaceProblem accessDenied) {
    switch (error) {
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ReplaceProblem::DiskFull;
        case ERROR_WRITE_PROTECT:
            return ReplaceProblem::NotWritable;
        case ERROR_ACCESS_DENIED:
            return accessDenied;
        default:
            return ReplaceProblem::Other;
    }
}

struct LocalFreer {
    void operator()(void* block) const noexcept { LocalFree(block); }
};

}  // namespace

CFileReplacement::~CFileReplacement() {
    if (!m_target.temporary.empty() && !m_committed) {
        m_temporaryFile.Close();
        DeleteFileW(m_target.temporary.c_str());
    }
}

BUFRESULT CFileReplacement::Begin(const char* path, const CByteBuffer& original) noexcept {
    if (path == nullptr) {
        return BUF_E_INVALIDARG;
    }
    if (m_targetFile.valid()) {
        return BUF_E_FAIL;
    }
    try {
        m_original = &original;
        const std::wstring given = ExtendedPath(WideFromAnsi(path));
        if (given.empty()) {
            SetLastError(ERROR_INVALID_NAME);
            return Fail(ReplaceProblem::Other);
        }
        // Whether the user may change the file is what opening it for writing says: its DACL
        // and its read-only attribute. It is not truncated.
        m_targetFile.Reset(CreateFileW(given.c_str(), GENERIC_READ | GENERIC_WRITE, kHeldSharing,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!m_targetFile.valid()) {
            return FailOpeningTarget();
        }
        // Wine gives no final path beyond MAX_PATH; such a path is taken as given.
        m_target.path = FinalPath(m_targetFile.get());
        if (m_target.path.empty()) {
            m_target.path = given;
        }
        if (!GetFileInformationByHandle(m_targetFile.get(), &m_target.info)) {
            return Fail(ReplaceProblem::Other);
        }
        // Opening for writing does not tell for an administrator, nor under Wine for root: a
        // file marked read-only was made so on purpose.
        if ((m_target.info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
            SetLastError(ERROR_ACCESS_DENIED);
            return Fail(ReplaceProblem::NotWritable);
        }
        m_target.directory = m_target.path.substr(0, NameStart(m_target.path) - 1);
        const BUFRESULT checked = CheckTarget();
        return checked == BUF_S_OK ? CreateTemporary() : checked;
    } catch (const std::bad_alloc&) {
        m_problem = ReplaceProblem::Other;
        return BUF_E_OUTOFMEMORY;
    }
}

BUFRESULT CFileReplacement::CheckTarget() noexcept {
    // Reading attributes is not subject to sharing: the name can be looked at while held.
    const CScopedHandle named(CreateFileW(m_target.path.c_str(), FILE_READ_ATTRIBUTES,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                          nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!named.valid()) {
        const DWORD error = GetLastError();
        return Fail(error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                        ? ReplaceProblem::Gone
                        : ReplaceProblem::Other);
    }
    if (!GetFileInformationByHandle(named.get(), &info)) {
        return Fail(ReplaceProblem::Other);
    }
    if (!SameFile(info, m_target.info)) {
        SetLastError(ERROR_FILE_INVALID);
        return Fail(ReplaceProblem::Changed);
    }
    // Replacing a file with other names would leave the old content, old PIN and all, there.
    if (info.nNumberOfLinks > 1) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return Fail(ReplaceProblem::HardLinks);
    }
    return CheckContent();
}

BUFRESULT CFileReplacement::CreateTemporary() {
    const std::wstring prefix = TemporaryPrefix(m_target.path);
    RemoveLeftovers(m_target.directory, prefix);
    std::mt19937 random(std::random_device{}());
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const std::wstring name = m_target.directory + L"\\" + prefix + UniquePart(random);
        // Hidden until it takes the target's place; only its creator's handle may use it.
        m_temporaryFile.Reset(CreateFileW(
            name.c_str(), GENERIC_READ | GENERIC_WRITE | WRITE_DAC | WRITE_OWNER | DELETE,
            kHeldSharing, nullptr, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr));
        if (m_temporaryFile.valid()) {
            m_target.temporary = name;
            m_temporary = AnsiFromWide(name);
            return BUF_S_OK;
        }
        if (GetLastError() != ERROR_FILE_EXISTS) {
            return Fail(ProblemFromError(GetLastError(), ReplaceProblem::DirectoryNotWritable));
        }
    }
    return Fail(ReplaceProblem::Other);
}

BUFRESULT CFileReplacement::CopyAttributes() noexcept {
    // Owner, group and DACL as the target has them; a new file would otherwise have its
    // creator's and the directory's.
    PSID owner = nullptr;
    PSID group = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    constexpr SECURITY_INFORMATION kWhat =
        OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    const DWORD read = GetSecurityInfo(m_targetFile.get(), SE_FILE_OBJECT, kWhat, &owner, &group,
                                       &dacl, nullptr, &descriptor);
    const std::unique_ptr<void, LocalFreer> held(descriptor);
    if (read != ERROR_SUCCESS) {
        SetLastError(read);
        return Fail(ReplaceProblem::AttributesNotKept);
    }
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorControl(descriptor, &control, &revision);
    const SECURITY_INFORMATION inheritance = (control & SE_DACL_PROTECTED) != 0
                                                 ? PROTECTED_DACL_SECURITY_INFORMATION
                                                 : UNPROTECTED_DACL_SECURITY_INFORMATION;
    const DWORD written = SetSecurityInfo(m_temporaryFile.get(), SE_FILE_OBJECT,
                                          kWhat | inheritance, owner, group, dacl, nullptr);
    if (written != ERROR_SUCCESS) {
        SetLastError(written);
        return Fail(written == ERROR_INVALID_OWNER ? ReplaceProblem::OwnerNotKept
                                                   : ReplaceProblem::AttributesNotKept);
    }
    // The target's attributes: the hidden one the temporary file had goes unless the target
    // has it too.
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = m_target.info.dwFileAttributes == 0 ? FILE_ATTRIBUTE_NORMAL
                                                               : m_target.info.dwFileAttributes;
    if (!SetFileInformationByHandle(m_temporaryFile.get(), FileBasicInfo, &basic, sizeof basic)) {
        return Fail(ReplaceProblem::AttributesNotKept);
    }
    return BUF_S_OK;
}

BUFRESULT CFileReplacement::Write(const CByteBuffer& content) noexcept {
    if (!m_temporaryFile.valid()) {
        return BUF_E_FAIL;
    }
    DWORD written = 0;
    if (!WriteFile(m_temporaryFile.get(), content.data(), content.length(), &written, nullptr) ||
        written != content.length()) {
        return Fail(ProblemFromError(GetLastError(), ReplaceProblem::Other));
    }
    if (const BUFRESULT copied = CopyAttributes(); copied != BUF_S_OK) {
        return copied;
    }
    if (!FlushFileBuffers(m_temporaryFile.get())) {
        return Fail(ProblemFromError(GetLastError(), ReplaceProblem::Other));
    }
    return BUF_S_WRITTEN;
}

BUFRESULT CFileReplacement::Commit() noexcept {
    if (!m_temporaryFile.valid() || m_committed) {
        return BUF_E_FAIL;
    }
    // Held, just before the rename: the target must still be what the change began from,
    // or another program's newer file would be lost.
    if (const BUFRESULT checked = CheckTarget(); checked != BUF_S_OK) {
        return checked;
    }
    // Windows renames a file over another only while neither is open: both are let go for the
    // rename alone, the temporary file complete and flushed, the target checked just now.
    m_temporaryFile.Close();
    m_targetFile.Close();
    if (!MoveFileExW(m_target.temporary.c_str(), m_target.path.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return Fail(ProblemFromError(GetLastError(), ReplaceProblem::DirectoryNotWritable));
    }
    m_committed = true;
    m_problem = ReplaceProblem::None;
    return BUF_S_WRITTEN;
}
