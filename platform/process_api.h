#pragma once
// What the process asks of the operating system before it handles any secret.

#include <cstddef>

// Loads libraries from the system's own folder only: a library of a system name placed beside
// the program (a Downloads folder holds whatever else was downloaded) or in the current
// folder is never loaded in its stead. Called first, before anything loads a library. False if
// the system refused.
bool LoadLibrariesFromSystemFolderOnly() noexcept;

// Keeps other processes of the same user from reading or changing the process's memory, from
// taking its handles and from running code in it. False if the system refused.
bool ShutOutOtherProcesses() noexcept;

// The same for the calling thread, whose own DACL Windows does not take from the process's:
// other processes of the user may neither read nor set its registers, suspend it nor run code
// in it. Every thread the tool starts to handle secrets calls it first. False if the system
// refused.
bool ShutOutOtherProcessesFromThisThread() noexcept;

// Writes no core dump, whatever the shell's limit or the system's core pattern or error
// reporting: a crash would otherwise put PINs and keys on disk. False if the system refused.
bool ForbidCoreDumps() noexcept;

// Lets the process lock `bytes` more of memory against paging, as far as the system allows
// without privileges: Linux's soft RLIMIT_MEMLOCK up to its hard limit, Windows' working set,
// within which alone VirtualLock locks. Locking itself may still be refused.
void AllowLockingMemory(std::size_t bytes) noexcept;
