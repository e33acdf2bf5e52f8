#pragma once
// What the process asks of the operating system before it handles any secret.

// Writes no core dump, whatever the shell's limit or the system's core pattern: a crash would
// otherwise put PINs and keys on disk. It also keeps other processes of the same user from
// reading its memory through ptrace or /proc. False if the system refused.
bool ForbidCoreDumps() noexcept;
