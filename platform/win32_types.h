#pragma once
// The Windows types, constants and error codes the tool relies on: on Windows the system's own,
// elsewhere stand-ins with the same values. CMake puts the folder for the target system
// (platform/windows or platform/posix) on the include path.

#include "win32/types.h"
