#pragma once
// The file-open dialog.

#include <string>

#include "ui/framework/cstring.h"
#include "ui/framework/wnd.h"

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

private:
    CString m_defaultExtension;
    CString m_fileName;
    CString m_filter;
    CWnd* m_parent;
    CString m_pathName;
};

// The filter in Qt's form: "description (patterns)" entries separated by ";;".
std::string QtFilterFromFrameworkFilter(const char* filter);
