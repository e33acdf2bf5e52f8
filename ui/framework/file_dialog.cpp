#include "ui/framework/file_dialog.h"

#include <filesystem>
#include <system_error>

// What CFileDialog does alike on every window system.

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

}  // namespace

std::vector<FilterEntry> FilterEntries(const char* filter) {
    std::vector<FilterEntry> entries;
    if (filter == nullptr) {
        return entries;
    }
    const std::vector<std::string> parts = SplitAtBars(filter);
    // Pairs until the empty entry that "||" closes the list with.
    for (std::size_t i = 0; i + 1 < parts.size() && !parts[i].empty(); i += 2) {
        entries.push_back({parts[i], parts[i + 1]});
    }
    return entries;
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
                         const char* fileName, DWORD flags, const char* filter, CWnd* parent)
    : m_defaultExtension(defaultExtension),
      m_fileName(fileName),
      m_filter(filter),
      m_flags(flags),
      m_parent(parent) {}
