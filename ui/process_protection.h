#pragma once
// What the process sets up before it shows a window, so that no PIN it is given can leave it.

// First of all, before anything loads a library: only the system's. Then, before any PIN is
// typed and before OpenSSL allocates: no other process reads the memory, a crash writes no
// core, OpenSSL wipes what it frees, and secrets live in locked memory where the system allows
// it. False if any but the last could not be set: the program must not start then.
bool ProtectProcess() noexcept;
