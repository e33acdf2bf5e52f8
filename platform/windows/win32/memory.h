#pragma once
// The system's own declarations; WIN32_LEAN_AND_MEAN and NOCRYPT keep <wincrypt.h> out, whose
// PKCS#12 functions and blob type would meet the tool's own.

#include <windows.h>
