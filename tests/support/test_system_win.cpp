#include <windows.h>

#include <filesystem>
#include <random>
#include <stdexcept>

#include "tests/support/test_files.h"

namespace testing_support {

std::string MakeTemporaryDirectory() {
    std::mt19937 random(std::random_device{}());
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::filesystem::path path =
            std::filesystem::temp_directory_path() / ("pintool-test-" + std::to_string(random()));
        // Created by this process alone; the user's profile keeps others out.
        if (CreateDirectoryW(path.c_str(), nullptr)) {
            return path.string();
        }
    }
    throw std::runtime_error("cannot create a temporary directory");
}

void SetReadOnly(const std::string& path, bool readOnly) {
    SetFileAttributesW(ExtendedWidePath(path).c_str(),
                       readOnly ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL);
}

}  // namespace testing_support
