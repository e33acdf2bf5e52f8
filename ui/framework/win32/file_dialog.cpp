#include "ui/framework/file_dialog.h"

#include <commdlg.h>

#include <string>
#include <vector>

#include "ui/framework/seams.h"
#include "ui/framework/win32/win32_support.h"

namespace {

// The filter as OPENFILENAME takes it: description and pattern, each closed by a zero, and the
// list by one more.
std::wstring SystemFilter(const char* filter) {
    std::wstring result;
    for (const FilterEntry& entry : FilterEntries(filter)) {
        result += WideText(entry.description.c_str()).c_str();
        result += L'\0';
        result += WideText(entry.patterns.c_str()).c_str();
        result += L'\0';
    }
    result += L'\0';
    return result;
}

// "*.p12" as the system wants it, "p12": it appends what it is given after a dot.
std::string SystemExtension(const char* defaultExtension) {
    std::string extension = defaultExtension == nullptr ? "" : defaultExtension;
    extension.erase(0, extension.find_first_not_of("*."));
    return extension;
}

// Long enough for a path beyond MAX_PATH (the manifest makes the program long-path aware).
constexpr DWORD kPathUnits = 32768;

}  // namespace

int CFileDialog::DoModal() {
    if (const auto& standIn = framework_seams::FileDialogStandIn()) {
        const auto chosen = standIn();
        m_pathName = chosen ? chosen->c_str() : "";
        return chosen ? IDOK : IDCANCEL;
    }
    const std::wstring filter = SystemFilter(m_filter);
    const WideText extension(SystemExtension(m_defaultExtension).c_str());
    const WideText initialDir(m_ofn.lpstrInitialDir);
    std::vector<wchar_t> path(kPathUnits, L'\0');
    const WideText fileName(m_fileName);
    wcsncpy(path.data(), fileName.c_str(), kPathUnits - 1);

    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = AfxGetSafeOwner(m_parent);
    ofn.lpstrFilter = filter.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = path.data();
    ofn.nMaxFile = kPathUnits;
    ofn.lpstrInitialDir = m_ofn.lpstrInitialDir != nullptr ? initialDir.c_str() : nullptr;
    ofn.lpstrDefExt = *extension.c_str() != L'\0' ? extension.c_str() : nullptr;
    // The Explorer-style dialog, as the framework always asks for, and the caller's flags.
    ofn.Flags = OFN_EXPLORER | m_flags;
    if (!GetOpenFileNameW(&ofn)) {
        m_pathName = "";
        return IDCANCEL;
    }
    m_pathName = Utf8Text(path.data(), static_cast<int>(wcslen(path.data())));
    return IDOK;
}
