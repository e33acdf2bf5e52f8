#pragma once
// Window, control and message-box constants of the Windows user interface, with their values.
// Dialog templates and the dialog framework speak in these.

#include "win32/user.h"
