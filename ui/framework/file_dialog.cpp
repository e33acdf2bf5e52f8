#include "ui/framework/file_dialog.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
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
    QWidget* owner =
        m_parent != nullptr ? m_parent->GetSafeHwnd() : QApplication::activeModalWidget();
    QFileDialog dialog(owner, QString(), QString::fromUtf8(static_cast<const char*>(m_fileName)),
                       QString::fromUtf8(QtFilterFromFrameworkFilter(m_filter).c_str()));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::AnyFile);  // the name need not exist
    QString suffix = QString::fromUtf8(static_cast<const char*>(m_defaultExtension));
    dialog.setDefaultSuffix(suffix.remove(QStringLiteral("*.")).remove(QLatin1Char('.')));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        m_pathName = "";
        return IDCANCEL;
    }
    m_pathName = QFileInfo(dialog.selectedFiles().front()).absoluteFilePath().toUtf8().constData();
    return IDOK;
}
