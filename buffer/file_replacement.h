#pragma once
// Replaces a file as a whole: the new content goes to a hidden temporary file beside the
// target, gets the target's owner, group, mode, ACLs and extended attributes (on Windows its
// owner, DACL, file attributes, creation time, encryption, compression and named streams), is
// flushed to disk and can be checked there, and only then takes the target's place by a
// rename. Until Commit the target is untouched; a replacement that is abandoned removes its
// temporary file. A target that is a symbolic link is replaced where the link points.
//
// Only a file the user may write in place is replaced, and only while it still holds the
// bytes the caller started from: a file another program wrote meanwhile is never overwritten.
// From Begin to the end the target is held open so that no other program can read or write it.
// A step another program's momentary hold on a file refuses is tried again for about two
// seconds, the target checked again before every rename.

#include <cstdint>
#include <string>

#include "buffer/byte_buffer.h"
#include "buffer/scoped_handle.h"
#include "system_path.h"  // how the system spells paths: buffer/posix or buffer/windows

// Why a replacement was refused or failed.
enum class ReplaceProblem {
    None,
    InUse,                 // another program holds the file
    Gone,                  // the file is no longer there
    Changed,               // the file no longer holds what the caller started from
    NotWritable,           // read-only, another user's, or on a write-protected medium
    DirectoryNotWritable,  // the temporary file beside it cannot be created
    DiskFull,
    OwnerNotKept,       // the new file cannot have the old one's owner and group
    AttributesNotKept,  // nor its ACLs or extended attributes
    EncryptionNotKept,  // the new file could not be encrypted as the old one is
    HardLinks,          // other names for the file would keep the old content
    Other,
};

// Which file a handle or a name stands for, as a replacement compares them.
struct CFileIdentity {
    std::uint64_t volume = 0;  // device, or volume serial number
    std::uint64_t index = 0;   // inode, or file index
    std::uint64_t links = 0;
    bool readOnly = false;  // no write bit at all, or the read-only attribute
};

// The file a replacement takes the place of.
struct CFileTarget {
    SystemPath path;       // the file itself, symbolic links resolved
    SystemPath directory;  // where it is, ending in a separator
    SystemPath name;
    CFileIdentity identity;  // of the file held open
};

class CFileReplacement {
public:
    CFileReplacement() noexcept = default;
    CFileReplacement(const CFileReplacement&) = delete;
    CFileReplacement& operator=(const CFileReplacement&) = delete;
    ~CFileReplacement();

    // Opens the target for writing without truncating it, locks it against other writers,
    // checks that it holds `original`, and creates the temporary file (0600). Leftovers of
    // this user's earlier replacements of the same file that were cut short are removed.
    // `original` must outlive the replacement.
    BUFRESULT Begin(const char* path, const CByteBuffer& original) noexcept;
    // Writes the whole content to the temporary file, gives it the target's owner, group,
    // mode, ACLs and extended attributes, and flushes it to disk.
    BUFRESULT Write(const CByteBuffer& content) noexcept;
    // Reads back what the temporary file holds.
    BUFRESULT ReadBack(CByteBuffer& content) const noexcept;
    // Puts the temporary file in the target's place, provided the target still is the file
    // that was locked and still holds the original bytes.
    BUFRESULT Commit() noexcept;

    // Why the last step failed; None after success.
    ReplaceProblem problem() const noexcept { return m_problem; }
    // Where the temporary file is, as the ANSI functions take it; empty until it is created.
    std::string temporaryPath() const;

private:
    BUFRESULT Fail(ReplaceProblem problem) noexcept;
    BUFRESULT FailOpeningTarget() noexcept;
    BUFRESULT OpenTarget(const char* path);
    // Holds the target again where the system let it go for a rename; it must be the same file.
    BUFRESULT HoldTarget() noexcept;
    // The target still is the locked file, with no other name, holding the original bytes.
    BUFRESULT CheckTarget() noexcept;
    // The locked file holds the original bytes.
    BUFRESULT CheckContent() noexcept;
    BUFRESULT CreateTemporary();
    BUFRESULT CopyAttributes() noexcept;

    CFileTarget m_target;
    SystemPath m_temporary;                            // empty until created
    CScopedHandle m_targetFile{INVALID_HANDLE_VALUE};  // open for writing, holds the lock
    CScopedHandle m_temporaryFile{INVALID_HANDLE_VALUE};
    const CByteBuffer* m_original = nullptr;
    bool m_committed = false;
    ReplaceProblem m_problem = ReplaceProblem::None;
};

// For tests only: `observer` (null: none) is called before each pause of a step that another
// program's hold refused, so that a test can let that program go once the step waits for it.
void SetPauseObserverForTesting(void (*observer)()) noexcept;
