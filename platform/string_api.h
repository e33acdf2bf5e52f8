#pragma once
// The string functions of the Windows kernel and runtime: KERNEL32's and MSVCRT's on Windows,
// stand-ins on POSIX. The ANSI code page is UTF-8 on both: on Windows by the manifest of every
// executable (res/utf8.manifest).

#include "win32/strings.h"
