#include "buffer/file_replacement.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <optional>

namespace {

// Keeps the temporary name within NAME_MAX however long the target's name is.
constexpr size_t kMaxBaseInName = 200;
constexpr char kTemporaryMark[] = ".pintool-";
constexpr size_t kUniqueLength = 6;  // what mkostemp puts in place of XXXXXX

std::string DirectoryOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == 0 ? "/" : path.substr(0, slash);
}

// At most `limit` bytes of a name, never ending inside a UTF-8 character: some file systems
// refuse names that are not valid UTF-8.
std::string CutAtCharacter(const std::string& name, size_t limit) {
    size_t cut = std::min(limit, name.size());
    while (cut > 0 && cut < name.size() && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) {
        --cut;
    }
    return name.substr(0, cut);
}

// ".NAME.pintool-": what the temporary files of a target are called, before their unique part.
std::string TemporaryPrefix(const std::string& target) {
    return "." + CutAtCharacter(target.substr(target.find_last_of('/') + 1), kMaxBaseInName) +
           kTemporaryMark;
}

bool IsTemporaryOf(const std::string& name, const std::string& prefix) {
    return name.size() == prefix.size() + kUniqueLength && name.starts_with(prefix) &&
           std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(),
                       [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; });
}

// A change that was killed leaves its temporary file; the next change of the same file removes
// those of this user. Another user's are not ours to remove. While the target is locked no
// other change of it is under way.
void RemoveLeftovers(const std::string& directory, const std::string& prefix) {
    const auto close = [](DIR* open) { closedir(open); };
    const std::unique_ptr<DIR, decltype(close)> listing(opendir(directory.c_str()), close);
    if (!listing) {
        return;
    }
    const int fd = dirfd(listing.get());
    while (const dirent* entry = readdir(listing.get())) {
        const std::string name = entry->d_name;
        struct stat info {};
        if (IsTemporaryOf(name, prefix) &&
            fstatat(fd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode) &&
            info.st_uid == geteuid()) {
            unlinkat(fd, name.c_str(), 0);
        }
    }
}

bool FlushDirectory(const std::string& directory) {
    const int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool flushed = fsync(fd) == 0;
    close(fd);
    return flushed;
}

// Every extended attribute of a file the process can see, POSIX ACLs among them, by name.
using Attributes = std::map<std::string, std::string>;

std::optional<Attributes> ReadAttributes(int fd) {
    const ssize_t listed = flistxattr(fd, nullptr, 0);
    if (listed < 0) {
        return errno == ENOTSUP ? std::optional<Attributes>(Attributes{}) : std::nullopt;
    }
    std::string names(static_cast<size_t>(listed), '\0');
    const ssize_t got = flistxattr(fd, names.data(), names.size());
    if (got < 0) {
        return std::nullopt;
    }
    names.resize(static_cast<size_t>(got));
    Attributes attributes;
    for (size_t at = 0; at < names.size(); at = names.find('\0', at) + 1) {
        const std::string name = names.c_str() + at;
        const ssize_t length = fgetxattr(fd, name.c_str(), nullptr, 0);
        std::string value(length > 0 ? static_cast<size_t>(length) : 0, '\0');
        if (length < 0 || fgetxattr(fd, name.c_str(), value.data(), value.size()) != length) {
            return std::nullopt;
        }
        attributes.emplace(name, std::move(value));
    }
    return attributes;
}

// Makes the file's attributes exactly `wanted`. What is already right is left alone: a
// security label the new file was given may be one the user could not set.
bool WriteAttributes(int fd, const Attributes& wanted) {
    const std::optional<Attributes> present = ReadAttributes(fd);
    if (!present) {
        return false;
    }
    for (const auto& [name, value] : *present) {
        if (!wanted.contains(name) && fremovexattr(fd, name.c_str()) != 0) {
            return false;
        }
    }
    for (const auto& [name, value] : wanted) {
        const auto found = present->find(name);
        if ((found == present->end() || found->second != value) &&
            fsetxattr(fd, name.c_str(), value.data(), value.size(), 0) != 0) {
            return false;
        }
    }
    return ReadAttributes(fd) == wanted;
}

ReplaceProblem ProblemFromErrno(int error, ReplaceProblem accessDenied) {
    switch (error) {
        case ENOSPC:
        case EDQUOT:
            return ReplaceProblem::DiskFull;
        case EROFS:
            return ReplaceProblem::NotWritable;
        case EACCES:
        case EPERM:
            return accessDenied;
        default:
            return ReplaceProblem::Other;
    }
}

}  // namespace

CFileReplacement::~CFileReplacement() {
    if (!m_temporary.empty() && !m_committed) {
        unlink(m_temporary.c_str());
    }
}

BUFRESULT CFileReplacement::FailWithErrno(ReplaceProblem problem) noexcept {
    SetLastError(ErrorFromErrno(errno));
    return Fail(problem);
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
        const std::unique_ptr<char, decltype(&std::free)> resolved(realpath(path, nullptr),
                                                                   &std::free);
        if (!resolved) {
            return FailWithErrno(errno == ENOENT || errno == ENOTDIR ? ReplaceProblem::Gone
                                                                     : ReplaceProblem::Other);
        }
        m_target.path = resolved.get();
        m_target.directory = DirectoryOf(m_target.path);
        // Whether the user may change the file is what opening it for writing, with the
        // process's own rights, says; it is not truncated. No sharing: the lock a save takes.
        m_targetFile.Reset(CreateFileA(m_target.path.c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!m_targetFile.valid()) {
            return FailOpeningTarget();
        }
        if (fstat(DescriptorOf(m_targetFile.get()), &m_target.info) != 0) {
            return FailWithErrno(ReplaceProblem::Other);
        }
        // Root may open anything for writing, but a file nobody may write was made read-only
        // on purpose.
        if ((m_target.info.st_mode & 0222) == 0) {
            SetLastError(ERROR_ACCESS_DENIED);
            return Fail(ReplaceProblem::NotWritable);
        }
        const BUFRESULT checked = CheckTarget();
        return checked == BUF_S_OK ? CreateTemporary() : checked;
    } catch (const std::bad_alloc&) {
        m_problem = ReplaceProblem::Other;
        return BUF_E_OUTOFMEMORY;
    }
}

BUFRESULT CFileReplacement::CheckTarget() noexcept {
    struct stat named {};
    if (stat(m_target.path.c_str(), &named) != 0) {
        return FailWithErrno(errno == ENOENT || errno == ENOTDIR ? ReplaceProblem::Gone
                                                                 : ReplaceProblem::Other);
    }
    if (named.st_dev != m_target.info.st_dev || named.st_ino != m_target.info.st_ino) {
        SetLastError(ERROR_FILE_INVALID);
        return Fail(ReplaceProblem::Changed);
    }
    // Replacing a file with other names would leave the old content, old PIN and all, there.
    if (named.st_nlink > 1) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return Fail(ReplaceProblem::HardLinks);
    }
    return CheckContent();
}

BUFRESULT CFileReplacement::CreateTemporary() {
    const std::string prefix = TemporaryPrefix(m_target.path);
    RemoveLeftovers(m_target.directory, prefix);
    std::string name = m_target.directory + "/" + prefix + std::string(kUniqueLength, 'X');
    // mkostemp creates the file exclusively with mode 0600.
    const int fd = mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) {
        return FailWithErrno(ProblemFromErrno(errno, ReplaceProblem::DirectoryNotWritable));
    }
    m_temporaryFile.Reset(HandleOf(fd));
    m_temporary = std::move(name);
    return BUF_S_OK;
}

BUFRESULT CFileReplacement::CopyAttributes() noexcept {
    const int fd = DescriptorOf(m_temporaryFile.get());
    // Owner first: changing it may clear set-id bits that the mode then restores.
    if (fchown(fd, m_target.info.st_uid, m_target.info.st_gid) != 0) {
        return FailWithErrno(ReplaceProblem::OwnerNotKept);
    }
    if (fchmod(fd, m_target.info.st_mode & 07777) != 0) {
        return FailWithErrno(ReplaceProblem::Other);
    }
    try {
        const std::optional<Attributes> wanted = ReadAttributes(DescriptorOf(m_targetFile.get()));
        if (!wanted || !WriteAttributes(fd, *wanted)) {
            return FailWithErrno(ReplaceProblem::AttributesNotKept);
        }
    } catch (const std::bad_alloc&) {
        m_problem = ReplaceProblem::Other;
        return BUF_E_OUTOFMEMORY;
    }
    struct stat now {};
    if (fstat(fd, &now) != 0 || now.st_uid != m_target.info.st_uid ||
        now.st_gid != m_target.info.st_gid || now.st_mode != m_target.info.st_mode) {
        SetLastError(ERROR_ACCESS_DENIED);
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
        return Fail(GetLastError() == ERROR_DISK_FULL ? ReplaceProblem::DiskFull
                                                      : ReplaceProblem::Other);
    }
    // Owner, mode and attributes before the one flush: the file that takes the target's place
    // is complete on disk the moment it gets its name.
    if (const BUFRESULT copied = CopyAttributes(); copied != BUF_S_OK) {
        return copied;
    }
    if (fsync(DescriptorOf(m_temporaryFile.get())) != 0) {
        return FailWithErrno(ProblemFromErrno(errno, ReplaceProblem::Other));
    }
    return BUF_S_WRITTEN;
}

BUFRESULT CFileReplacement::Commit() noexcept {
    if (!m_temporaryFile.valid() || m_committed) {
        return BUF_E_FAIL;
    }
    // Under the lock, just before the rename: the target must still be what the change began
    // from, or another program's newer file would be lost.
    if (const BUFRESULT checked = CheckTarget(); checked != BUF_S_OK) {
        return checked;
    }
    if (rename(m_temporary.c_str(), m_target.path.c_str()) != 0) {
        return FailWithErrno(ProblemFromErrno(errno, ReplaceProblem::DirectoryNotWritable));
    }
    m_committed = true;
    m_problem = ReplaceProblem::None;
    // The new name is durable only once the directory is; the file itself was flushed.
    FlushDirectory(m_target.directory);
    return BUF_S_WRITTEN;
}
