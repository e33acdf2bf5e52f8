#pragma once
// The system's own constants, and the resource compiler's id for unnamed controls.

#include <windows.h>

inline constexpr int IDC_STATIC = -1;
