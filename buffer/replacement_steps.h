#pragma once
// What each system does for CFileReplacement (file_replacement_posix.cpp or
// file_replacement_win.cpp, whichever CMake builds). The order of the steps and the rules they
// serve are file_replacement.cpp's. A step that fails leaves the reason in the last error, as a
// Windows error code on every system.

#include <string>
#include <vector>

#include "buffer/file_replacement.h"

namespace replacement_steps {

// The absolute path of the file `path` names, as far as it can be known before opening it.
bool Resolve(const char* path, SystemPath& resolved);
// Opens the file at `path` for reading and writing, without truncating or creating it, and
// holds it so that no other program may write it while it is open (on Windows, nor read it).
// Where the system tells the open file's own path, `path` becomes that.
HANDLE OpenHeld(SystemPath& path);
bool IdentifyHeld(HANDLE file, CFileIdentity& identity) noexcept;
// Who the name stands for now; the file is not opened for its content.
bool IdentifyNamed(const SystemPath& path, CFileIdentity& identity) noexcept;

// Whether a unit of a name belongs to the character begun before it: a UTF-8 continuation
// byte, the second half of a UTF-16 pair.
bool ContinuesCharacter(SystemPath::value_type unit) noexcept;
// The names in `directory` that begin with `prefix`, and perhaps some others.
std::vector<SystemPath> NamesStartingWith(const SystemPath& directory, const SystemPath& prefix);
// A file, not a folder or link, whose owner is the process's user.
bool IsOwnFile(const SystemPath& path) noexcept;
bool RemoveFile(const SystemPath& path) noexcept;

// Whether a step that failed with `error` may succeed a moment later: on Windows, virus
// scanners, indexers and sync clients open a file just written or renamed for a moment.
bool MayPass(DWORD error) noexcept;

// Creates a file that must not exist yet (ERROR_FILE_EXISTS) and opens it for reading and
// writing, for its creator alone: mode 0600, or hidden and held as the target is. It is stored
// as `like` is: encrypted where `like` is, or not at all (ERROR_ENCRYPTION_FAILED), so that
// nothing of the content reaches the disk in clear.
HANDLE CreateExclusive(const SystemPath& path, HANDLE like) noexcept;
// Gives `temporary` the owner, group, permissions and attributes `target` has (on Windows also
// its creation time, compression and named streams); None, or what could not be kept.
ReplaceProblem CopyAttributes(HANDLE target, HANDLE temporary);
bool Flush(HANDLE file) noexcept;
bool IsDiskFull(DWORD error) noexcept;
// Puts the temporary file in the target's place. The handles are closed where the system
// renames only files nobody holds; a rename refused because another program has one of the
// files open fails with ERROR_SHARING_VIOLATION.
bool RenameOver(CScopedHandle& temporaryFile, CScopedHandle& targetFile,
                const SystemPath& temporary, const SystemPath& target) noexcept;
void FlushDirectory(const SystemPath& directory) noexcept;

std::string AnsiPath(const SystemPath& path);

}  // namespace replacement_steps
