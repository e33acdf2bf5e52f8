#include "ui/framework/file_dialog.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>

#include "ui/framework/qt/file_filter.h"
#include "ui/framework/seams.h"

namespace {

// "*.pfx; *.p12" to "*.pfx *.p12".
std::string QtPatterns(const std::string& patterns) {
    std::string result;
    for (const char c : patterns) {
        if (c == ';' || c == ' ') {
            if (!result.empty() && result.back() != ' ') {
                result += ' ';
            }
        } else {
            result += c;
        }
    }
    while (!result.empty() && result.back() == ' ') {
        result.pop_back();
    }
    return result;
}

}  // namespace

std::string QtFilterFromFrameworkFilter(const char* filter) {
    std::string result;
    for (const FilterEntry& entry : FilterEntries(filter)) {
        if (!result.empty()) {
            result += ";;";
        }
        result += entry.description + " (" + QtPatterns(entry.patterns) + ")";
    }
    return result;
}

int CFileDialog::DoModal() {
    if (const auto& standIn = framework_seams::FileDialogStandIn()) {
        const auto chosen = standIn();
        m_pathName = chosen ? chosen->c_str() : "";
        return chosen ? IDOK : IDCANCEL;
    }
    QFileDialog dialog(
        AfxGetSafeOwner(m_parent), QString(),
        QString::fromUtf8(m_ofn.lpstrInitialDir == nullptr ? "" : m_ofn.lpstrInitialDir),
        QString::fromUtf8(QtFilterFromFrameworkFilter(m_filter).c_str()));
    // Qt's own dialog, whose texts are translated with Qt's and which remembers nothing
    // beyond the process; each filter shows its description alone.
    dialog.setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::HideNameFilterDetails);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::AnyFile);  // the name need not exist
    if (!m_fileName.IsEmpty()) {
        dialog.selectFile(QString::fromUtf8(static_cast<const char*>(m_fileName)));
    }
    framework_seams::ScheduleModalHook(&dialog);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        m_pathName = "";
        return IDCANCEL;
    }
    const QString chosen = QFileInfo(dialog.selectedFiles().front()).absoluteFilePath();
    m_pathName = WithDefaultExtension(chosen.toUtf8().constData(), m_defaultExtension).c_str();
    return IDOK;
}
