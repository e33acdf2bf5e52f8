#pragma once
// A dialog template as the Windows dialog manager reads it from memory: DLGTEMPLATEEX with its
// DLGITEMTEMPLATEEX items, made from the shared template data.

#include <cstdint>
#include <vector>

#include "res/dialog_templates.h"

// Every control is a child, visible, with the template's styles; texts are UTF-16; the items
// start on DWORD boundaries. The block starts on one too (operator new aligns far more).
std::vector<std::uint8_t> DialogTemplateBytes(const DialogTemplate& dialog);

// The predefined window classes, as the dialog manager names them by ordinal.
inline constexpr WORD kButtonClassAtom = 0x0080;
inline constexpr WORD kEditClassAtom = 0x0081;
inline constexpr WORD kStaticClassAtom = 0x0082;
