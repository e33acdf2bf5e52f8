#pragma once
// Temporary directories and file contents for the tests.

#include <string>
#include <vector>

namespace testing_support {

// A fresh directory under the system's temporary directory, removed with everything in it.
class TempDir {
public:
    TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir();

    const std::string& path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }
    // Names in the directory, hidden ones included.
    std::vector<std::string> List() const;

private:
    std::string m_path;
};

// A new directory only this user may use, under the system's temporary directory.
std::string MakeTemporaryDirectory();

std::string ReadAll(const std::string& path);
void WriteAll(const std::string& path, const std::string& bytes);
// Makes a file read-only for its owner as the system says it (mode or attribute), or writable
// again.
void SetReadOnly(const std::string& path, bool readOnly);

}  // namespace testing_support

// What the tests do with the system beyond files: tests/support/posix or tests/support/windows.
#include "test_system.h"
