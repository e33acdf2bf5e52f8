#include "ui/framework/dialog_template_bytes.h"

#include <cstring>

#include "platform/string_api.h"

namespace {

static_assert(__STDCPP_DEFAULT_NEW_ALIGNMENT__ >= sizeof(DWORD));

// Writes little-endian values, as the dialog manager reads them.
class TemplateWriter {
public:
    void Word(unsigned value) {
        m_bytes.push_back(static_cast<std::uint8_t>(value & 0xFF));
        m_bytes.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
    }
    void Dword(DWORD value) {
        Word(value & 0xFFFF);
        Word(value >> 16);
    }
    void Byte(unsigned value) { m_bytes.push_back(static_cast<std::uint8_t>(value)); }
    // UTF-8 to UTF-16 (the ANSI code page is UTF-8), zero-terminated.
    void Text(const char* text) {
        const int length = static_cast<int>(std::strlen(text));
        if (length > 0) {
            std::vector<WCHAR> wide(static_cast<std::size_t>(length));
            const int units = MultiByteToWideChar(CP_ACP, 0, text, length, wide.data(), length);
            for (int i = 0; i < units; ++i) {
                Word(static_cast<unsigned>(wide[static_cast<std::size_t>(i)]));
            }
        }
        Word(0);
    }
    void AlignToDword() {
        while (m_bytes.size() % sizeof(DWORD) != 0) {
            m_bytes.push_back(0);
        }
    }
    std::vector<std::uint8_t> Take() { return std::move(m_bytes); }

private:
    std::vector<std::uint8_t> m_bytes;
};

WORD ClassAtom(ControlKind kind) {
    switch (kind) {
        case ControlKind::Edit:
            return kEditClassAtom;
        case ControlKind::Static:
            return kStaticClassAtom;
        case ControlKind::PushButton:
        case ControlKind::RadioButton:
            break;
    }
    return kButtonClassAtom;
}

void WriteItem(TemplateWriter& out, const DialogItem& item) {
    out.AlignToDword();
    out.Dword(0);  // help id
    out.Dword(0);  // extended style
    out.Dword(WS_CHILD | WS_VISIBLE | item.style);
    out.Word(static_cast<WORD>(item.x));
    out.Word(static_cast<WORD>(item.y));
    out.Word(static_cast<WORD>(item.cx));
    out.Word(static_cast<WORD>(item.cy));
    out.Dword(static_cast<DWORD>(item.id));  // IDC_STATIC as 0xFFFFFFFF
    out.Word(0xFFFF);                        // the class by its ordinal
    out.Word(ClassAtom(item.kind));
    out.Text(item.text);
    out.Word(0);  // no creation data
}

}  // namespace

std::vector<std::uint8_t> DialogTemplateBytes(const DialogTemplate& dialog) {
    TemplateWriter out;
    out.Word(1);       // dlgVer
    out.Word(0xFFFF);  // signature of the extended form
    out.Dword(0);      // help id
    out.Dword(dialog.exStyle);
    out.Dword(dialog.style);
    out.Word(static_cast<WORD>(dialog.items.size()));
    out.Word(0);  // x, y: the framework centres the dialog
    out.Word(0);
    out.Word(static_cast<WORD>(dialog.cx));
    out.Word(static_cast<WORD>(dialog.cy));
    out.Word(0);  // no menu
    out.Word(0);  // the dialog class
    out.Text(dialog.caption);
    if ((dialog.style & DS_SETFONT) != 0) {
        out.Word(static_cast<WORD>(dialog.pointSize));
        out.Word(0);  // weight: the font's own (FW_DONTCARE)
        out.Byte(0);  // not italic
        out.Byte(1);  // DEFAULT_CHARSET
        out.Text(dialog.fontName);
    }
    for (const DialogItem& item : dialog.items) {
        WriteItem(out, item);
    }
    return out.Take();
}
