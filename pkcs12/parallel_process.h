#pragma once
// Which process runs: the threads that run batches belong to the process that started them, and
// a child of fork has none of them.

namespace parallel {

using ProcessId = unsigned long;

// The calling process's identifier; a child of fork has another one than its parent.
ProcessId ThisProcess() noexcept;

}  // namespace parallel
