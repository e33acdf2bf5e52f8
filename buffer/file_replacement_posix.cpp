#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <string_view>

#include "buffer/replacement_steps.h"

// A replacement's steps on POSIX: the target is held by an exclusive flock (CreateFileA without
// sharing), named by its real path, and known by device and inode.

namespace {

bool FailedWithErrno() noexcept {
    SetLastError(ErrorFromErrno(errno));
    return false;
}

CFileIdentity IdentityOf(const struct stat& info) noexcept {
    return {.volume = static_cast<std::uint64_t>(info.st_dev),
            .index = static_cast<std::uint64_t>(info.st_ino),
            .links = static_cast<std::uint64_t>(info.st_nlink),
            .readOnly = (info.st_mode & 0222) == 0};
}

// What stat or fstat, which returned `result`, says of the file.
bool Identified(int result, const struct stat& info, CFileIdentity& identity) noexcept {
    if (result != 0) {
        return FailedWithErrno();
    }
    identity = IdentityOf(info);
    return true;
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

}  // namespace

namespace replacement_steps {

bool Resolve(const char* path, SystemPath& resolved) {
    const std::unique_ptr<char, decltype(&std::free)> real(realpath(path, nullptr), &std::free);
    if (!real) {
        return FailedWithErrno();
    }
    resolved = real.get();
    return true;
}

HANDLE OpenHeld(SystemPath& path) {
    // No sharing: the exclusive lock a save takes.
    return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool IdentifyHeld(HANDLE file, CFileIdentity& identity) noexcept {
    struct stat info {};
    return Identified(fstat(DescriptorOf(file), &info), info, identity);
}

bool IdentifyNamed(const SystemPath& path, CFileIdentity& identity) noexcept {
    struct stat info {};
    return Identified(stat(path.c_str(), &info), info, identity);
}

bool ContinuesCharacter(char unit) noexcept {
    return (static_cast<unsigned char>(unit) & 0xC0) == 0x80;
}

std::vector<SystemPath> NamesStartingWith(const SystemPath& directory, const SystemPath& prefix) {
    const auto close = [](DIR* open) { closedir(open); };
    const std::unique_ptr<DIR, decltype(close)> listing(opendir(directory.c_str()), close);
    std::vector<SystemPath> names;
    while (const dirent* entry = listing ? readdir(listing.get()) : nullptr) {
        if (std::string_view(entry->d_name).starts_with(prefix)) {
            names.emplace_back(entry->d_name);
        }
    }
    return names;
}

bool IsOwnFile(const SystemPath& path) noexcept {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == geteuid();
}

bool RemoveFile(const SystemPath& path) noexcept {
    return unlink(path.c_str()) == 0 || FailedWithErrno();
}

bool MayPass(DWORD /*error*/) noexcept {
    // Only another change holds the file, by its lock, and for the whole change.
    return false;
}

HANDLE CreateExclusive(const SystemPath& path, HANDLE /*like*/) noexcept {
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        FailedWithErrno();
    }
    return HandleOf(fd);
}

ReplaceProblem CopyAttributes(HANDLE target, HANDLE temporary) {
    const int from = DescriptorOf(target);
    const int to = DescriptorOf(temporary);
    struct stat wanted {};
    if (fstat(from, &wanted) != 0) {
        FailedWithErrno();
        return ReplaceProblem::Other;
    }
    // Owner first: changing it may clear set-id bits that the mode then restores.
    if (fchown(to, wanted.st_uid, wanted.st_gid) != 0) {
        FailedWithErrno();
        return ReplaceProblem::OwnerNotKept;
    }
    if (fchmod(to, wanted.st_mode & 07777) != 0) {
        FailedWithErrno();
        return ReplaceProblem::Other;
    }
    const std::optional<Attributes> attributes = ReadAttributes(from);
    if (!attributes || !WriteAttributes(to, *attributes)) {
        FailedWithErrno();
        return ReplaceProblem::AttributesNotKept;
    }
    struct stat now {};
    if (fstat(to, &now) != 0 || now.st_uid != wanted.st_uid || now.st_gid != wanted.st_gid ||
        now.st_mode != wanted.st_mode) {
        SetLastError(ERROR_ACCESS_DENIED);
        return ReplaceProblem::AttributesNotKept;
    }
    return ReplaceProblem::None;
}

bool Flush(HANDLE file) noexcept {
    return fsync(DescriptorOf(file)) == 0 || FailedWithErrno();
}

bool IsDiskFull(DWORD error) noexcept {
    return error == ERROR_DISK_FULL;
}

bool RenameOver(CScopedHandle& /*temporaryFile*/, CScopedHandle& /*targetFile*/,
                const SystemPath& temporary, const SystemPath& target) noexcept {
    // Both stay open: the lock is held until the new file has the name.
    return rename(temporary.c_str(), target.c_str()) == 0 || FailedWithErrno();
}

void FlushDirectory(const SystemPath& directory) noexcept {
    const int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}

std::string AnsiPath(const SystemPath& path) {
    return path;
}

}  // namespace replacement_steps
