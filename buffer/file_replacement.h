#pragma once
// Replaces a file as a whole: the new content goes to a hidden temporary file beside the
// target, is flushed to disk and can be checked there, and only then takes the target's place
// by a rename. Until Commit the target is untouched; a replacement that is abandoned removes
// its temporary file. A target that is a symbolic link is replaced where the link points.

#include <sys/stat.h>

#include <string>

#include "buffer/byte_buffer.h"

class CFileReplacement {
public:
    CFileReplacement() noexcept = default;
    CFileReplacement(const CFileReplacement&) = delete;
    CFileReplacement& operator=(const CFileReplacement&) = delete;
    ~CFileReplacement();

    // Locks the existing target against other writers and creates the temporary file (0600).
    BUFRESULT Begin(const char* path) noexcept;
    // Writes the whole content to the temporary file and flushes it to disk.
    BUFRESULT Write(const CByteBuffer& content) noexcept;
    // Reads back what the temporary file holds.
    BUFRESULT ReadBack(CByteBuffer& content) const noexcept;
    // Puts the temporary file in the target's place with the target's permissions.
    BUFRESULT Commit() noexcept;

    const std::string& temporaryPath() const noexcept { return m_temporary; }

private:
    BUFRESULT FailWithErrno() noexcept;

    std::string m_target;     // the file itself, symbolic links resolved
    std::string m_temporary;  // empty until created
    int m_targetFd = -1;      // holds the lock on the target
    int m_temporaryFd = -1;
    struct stat m_targetInfo {};
    bool m_committed = false;
};
