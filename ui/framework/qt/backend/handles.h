#pragma once
// The Qt backend's window handles: a window is a widget, an icon a Qt icon the backend keeps.

#include <cstdint>

#include "platform/winuser.h"

class QWidget;
class QIcon;
class QPainter;

using HWND = QWidget*;
using HICON = const QIcon*;
using HDC = QPainter*;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;

inline constexpr UINT WM_PAINT = 0x000F;
inline constexpr UINT WM_QUERYDRAGICON = 0x0037;
inline constexpr UINT WM_ICONERASEBKGND = 0x0027;
inline constexpr UINT WM_SETICON = 0x0080;
inline constexpr UINT BM_GETCHECK = 0x00F0;
inline constexpr int SM_CXICON = 11;
inline constexpr int SM_CYICON = 12;
inline constexpr WPARAM ICON_SMALL = 0;
inline constexpr WPARAM ICON_BIG = 1;

// The control with the id in a dialog, or null; the id of a control, or 0.
HWND GetDlgItem(HWND dialog, int id);
int GetDlgCtrlID(HWND control);
// The window-system metrics the dialogs use (SM_CXICON, SM_CYICON).
int GetSystemMetrics(int index);
