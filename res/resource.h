#pragma once
// Resource and control ids.

inline constexpr int IDD_MAIN = 102;
inline constexpr int IDR_MAINFRAME = 128;
inline constexpr int IDD_CHANGE_PIN = 129;

inline constexpr int IDC_EDIT_FILE = 1000;
inline constexpr int IDC_BUTTON_BROWSE = 1001;
inline constexpr int IDC_BUTTON_RUN = 1002;
inline constexpr int IDC_RADIO_CHANGE_PIN = 1003;
inline constexpr int IDC_EDIT_OLD_PIN = 1004;
inline constexpr int IDC_EDIT_NEW_PIN = 1005;
inline constexpr int IDC_EDIT_NEW_PIN_REPEAT = 1006;
