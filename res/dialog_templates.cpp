#include "res/dialog_templates.h"

#include "res/resource.h"

namespace {

constexpr const char* kTitle = "Quintara(R) Tessaplan für Softzertifikate";

constexpr DialogItem kMainItems[] = {
    {IDOK, ControlKind::PushButton, "Beenden", 263, 55, 50, 17, BS_DEFPUSHBUTTON | WS_TABSTOP},
    {IDC_STATIC, ControlKind::Static, "Softzertifikat (Datei):", 7, 7, 75, 13, WS_GROUP},
    {IDC_EDIT_FILE, ControlKind::Edit, "", 84, 7, 211, 15,
     WS_BORDER | ES_READONLY | ES_AUTOHSCROLL},
    {IDC_BUTTON_BROWSE, ControlKind::PushButton, "...", 297, 7, 16, 16, WS_TABSTOP, "Durchsuchen"},
    {IDC_BUTTON_RUN, ControlKind::PushButton, "Ausführen", 263, 35, 50, 17, WS_TABSTOP},
    {IDC_RADIO_CHANGE_PIN, ControlKind::RadioButton, "PIN ändern", 84, 39, 172, 13,
     BS_AUTORADIOBUTTON},
};

// The PIN fields are password fields: nobody beside the user reads a PIN off the screen.
constexpr DWORD kPinField = WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL | ES_PASSWORD;

constexpr DialogItem kChangePinItems[] = {
    {IDOK, ControlKind::PushButton, "PIN ändern", 228, 69, 50, 14, BS_DEFPUSHBUTTON | WS_TABSTOP},
    {IDCANCEL, ControlKind::PushButton, "Abbrechen", 174, 69, 50, 14, WS_TABSTOP},
    {IDC_STATIC, ControlKind::Static, "Alte PIN:", 7, 7, 44, 11, WS_GROUP},
    {IDC_EDIT_OLD_PIN, ControlKind::Edit, "", 75, 7, 203, 15, kPinField},
    {IDC_STATIC, ControlKind::Static, "Neue PIN:", 7, 25, 44, 11, WS_GROUP},
    {IDC_EDIT_NEW_PIN, ControlKind::Edit, "", 75, 25, 203, 15, kPinField},
    {IDC_STATIC, ControlKind::Static, "Neue PIN (Wdh.):", 7, 43, 61, 11, WS_GROUP},
    {IDC_EDIT_NEW_PIN_REPEAT, ControlKind::Edit, "", 75, 43, 203, 15, kPinField},
};

constexpr DialogTemplate kTemplates[] = {
    {IDD_MAIN, kTitle, 320, 79,
     WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT, WS_EX_APPWINDOW,
     "MS Shell Dlg", 8, kMainItems},
    {IDD_CHANGE_PIN, kTitle, 285, 90,
     WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT, 0, "MS Shell Dlg", 8,
     kChangePinItems},
};

}  // namespace

const DialogTemplate* FindDialogTemplate(int id) noexcept {
    for (const DialogTemplate& dialog : kTemplates) {
        if (dialog.id == id) {
            return &dialog;
        }
    }
    return nullptr;
}
