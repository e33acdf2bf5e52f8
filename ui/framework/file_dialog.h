#pragma once
// The file-open dialog.

#include <string>
#include <vector>

#include "ui/framework/cstring.h"
#include "ui/framework/wnd.h"

// The part of the platform's OPENFILENAME the tool sets before DoModal.
struct OpenFileName {
    const char* lpstrInitialDir = nullptr;  // where the dialog starts; null: the working folder
};

class CFileDialog {
public:
    // `filter` pairs descriptions and patterns, separated by '|' and closed by "||",
    // e.g. "Softzertifikate (*.pfx,*.p12)|*.pfx; *.p12||".
    CFileDialog(BOOL openFileDialog, const char* defaultExtension = nullptr,
                const char* fileName = nullptr, DWORD flags = 0, const char* filter = nullptr,
                CWnd* parent = nullptr);

    // IDOK when a name was confirmed, IDCANCEL otherwise.
    int DoModal();
    // The full path of the confirmed name.
    CString GetPathName() const { return m_pathName; }

    OpenFileName m_ofn;

private:
    CString m_defaultExtension;
    CString m_fileName;
    CString m_filter;
    DWORD m_flags;
    CWnd* m_parent;
    CString m_pathName;
};

// One entry of a filter: "Softzertifikate (*.pfx,*.p12)" and "*.pfx; *.p12".
struct FilterEntry {
    std::string description;
    std::string patterns;
};
// The entries of a filter in the framework's form, up to the "||" that closes it.
std::vector<FilterEntry> FilterEntries(const char* filter);

// The name the user confirmed, with the default extension ("*.p12", ".p12" or "p12") appended
// only when the name has no extension and no file of that name exists.
std::string WithDefaultExtension(const std::string& path, const char* defaultExtension);
