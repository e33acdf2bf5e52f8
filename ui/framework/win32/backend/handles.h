#pragma once
// The Win32 backend's window handles are the system's own.

#include "platform/winuser.h"
