#include "buffer/file_replacement.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>
#include <new>

#include "platform/file_api.h"

namespace {

// Keeps the temporary name within NAME_MAX however long the target's name is.
constexpr size_t kMaxBaseInName = 200;

bool WriteAll(int fd, const BYTE* data, size_t count) {
    while (count > 0) {
        const ssize_t put = write(fd, data, count);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            if (put == 0) {
                errno = ENOSPC;
            }
            return false;
        }
        data += put;
        count -= static_cast<size_t>(put);
    }
    return true;
}

void CloseFd(int& fd) {
    if (fd >= 0) {
        close(fd);
        fd = -1;
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

std::string DirectoryOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

CFileReplacement::~CFileReplacement() {
    if (!m_temporary.empty() && !m_committed) {
        unlink(m_temporary.c_str());
    }
    CloseFd(m_temporaryFd);
    CloseFd(m_targetFd);
}

BUFRESULT CFileReplacement::FailWithErrno() noexcept {
    SetLastError(ErrorFromErrno(errno));
    return ResultFromLastError();
}

BUFRESULT CFileReplacement::Begin(const char* path) noexcept {
    if (path == nullptr) {
        return BUF_E_INVALIDARG;
    }
    if (m_targetFd >= 0) {
        return BUF_E_FAIL;
    }
    try {
        const std::unique_ptr<char, decltype(&std::free)> resolved(realpath(path, nullptr),
                                                                   &std::free);
        if (!resolved) {
            return FailWithErrno();
        }
        m_target = resolved.get();
        m_targetFd = open(m_target.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
        if (m_targetFd < 0 || fstat(m_targetFd, &m_targetInfo) != 0) {
            return FailWithErrno();
        }
        if (!S_ISREG(m_targetInfo.st_mode)) {
            errno = EACCES;
            return FailWithErrno();
        }
        // The same lock a save takes: nobody who respects it opens the file meanwhile.
        if (flock(m_targetFd, LOCK_EX | LOCK_NB) != 0) {
            return FailWithErrno();
        }
        const std::string base = m_target.substr(m_target.find_last_of('/') + 1);
        std::string name =
            DirectoryOf(m_target) + "/." + base.substr(0, kMaxBaseInName) + ".pintool-XXXXXX";
        // mkostemp creates the file exclusively with mode 0600.
        m_temporaryFd = mkostemp(name.data(), O_CLOEXEC);
        if (m_temporaryFd < 0) {
            return FailWithErrno();
        }
        m_temporary = std::move(name);
        return BUF_S_OK;
    } catch (const std::bad_alloc&) {
        return BUF_E_OUTOFMEMORY;
    }
}

BUFRESULT CFileReplacement::Write(const CByteBuffer& content) noexcept {
    if (m_temporaryFd < 0) {
        return BUF_E_FAIL;
    }
    if (!WriteAll(m_temporaryFd, content.data(), content.length()) || fsync(m_temporaryFd) != 0) {
        return FailWithErrno();
    }
    return BUF_S_WRITTEN;
}

BUFRESULT CFileReplacement::ReadBack(CByteBuffer& content) const noexcept {
    return m_temporaryFd < 0 ? BUF_E_FAIL : content.LoadFromFile(m_temporary.c_str(), 0, 0);
}

BUFRESULT CFileReplacement::Commit() noexcept {
    if (m_temporaryFd < 0 || m_committed) {
        return BUF_E_FAIL;
    }
    // The name must still stand for the file that was locked, not for one put there since.
    struct stat now {};
    if (stat(m_target.c_str(), &now) != 0) {
        return FailWithErrno();
    }
    if (now.st_dev != m_targetInfo.st_dev || now.st_ino != m_targetInfo.st_ino) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return ResultFromLastError();
    }
    if (rename(m_temporary.c_str(), m_target.c_str()) != 0) {
        return FailWithErrno();
    }
    m_committed = true;
    // From here on the new file is in place; what follows cannot undo that, so failures are
    // not reported. Owner first, where allowed: changing it may clear permission bits.
    static_cast<void>(fchown(m_temporaryFd, m_targetInfo.st_uid, m_targetInfo.st_gid));
    fchmod(m_temporaryFd, m_targetInfo.st_mode & 07777);
    fsync(m_temporaryFd);
    FlushDirectory(DirectoryOf(m_target));
    return BUF_S_WRITTEN;
}
