#include "ui/framework/file_dialog.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <filesystem>
#include <system_error>
#include <vector>

#include "ui/framework/seams.h"

namespace {

std::vector<std::string> SplitAtBars(const std::string& text) {
    std::vector<std::string> parts;
    std::string::size_type start = 0;
    for (auto bar = text.find('|'); bar != std::string::npos; bar = text.find('|', start)) {
        parts.push_back(text.substr(start, bar - start));
        start = bar + 1;
    }
    parts.push_back(text.substr(start));
    return parts;
}

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
    if (filter == nullptr) {
        return {};
    }
    const std::vector<std::string> parts = SplitAtBars(filter);
    std::string result;
    // Pairs until the empty entry that "||" closes the list with.
    for (std::size_t i = 0; i + 1 < parts.size() && !parts[i].empty(); i += 2) {
        if (!result.empty()) {
            result += ";;";
        }
        result += parts[i] + " (" + QtPatterns(parts[i + 1]) + ")";
    }
    return result;
}

std::string WithDefaultExtension(const std::string& path, const char* defaultExtension) {
    std::string extension = defaultExtension == nullptr ? "" : defaultExtension;
    extension.erase(0, extension.find_first_not_of("*."));
    const std::filesystem::path name(path);
    std::error_code error;
    if (extension.empty() || name.has_extension() || std::filesystem::exists(name, error)) {
        return path;
    }
    return path + "." + extension;
}

CFileDialog::CFileDialog(BOOL /*openFileDialog*/, const char* defaultExtension,
                         const char* fileName, DWORD /*flags*/, const char* filter, CWnd* parent)
    : m_defaultExtension(defaultExtension),
      m_fileName(fileName),
      m_filter(filter),
      m_parent(parent) {}

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
    framework_seams::ScheduleModalHook(dialog);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        m_pathName = "";
        return IDCANCEL;
    }
    const QString chosen = QFileInfo(dialog.selectedFiles().front()).absoluteFilePath();
    m_pathName = WithDefaultExtension(chosen.toUtf8().constData(), m_defaultExtension).c_str();
    return IDOK;
}
