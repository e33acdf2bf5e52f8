#pragma once
// The Windows file functions: KERNEL32's on Windows, stand-ins on POSIX (see win32/files.h).

#include "win32/files.h"
