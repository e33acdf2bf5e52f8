#pragma once
// The PKCS#12 files the tests work on, made once per test run into the build folder before the
// tests (ctest's Fixtures tests): by the openssl command (make_fixtures.sh) and, for structures
// no command writes, by the builder (build_fixtures). Each test program works on a copy.

#include <string>
#include <vector>

#include "tests/support/test_files.h"

namespace testing_support {

// The PIN of every fixture: beyond ASCII, as users' PINs may be.
inline const std::string kPin = "Grüße€";

class Fixtures {
public:
    static const Fixtures& Get();

    std::string Path(const std::string& name) const { return m_dir / name; }
    std::string Bytes(const std::string& name) const { return ReadAll(Path(name)); }
    // Copies a fixture into `dir` under its own name and returns the new path.
    std::string CopyTo(const std::string& name, const TempDir& dir) const;

    // Every PKCS#12 fixture that opens with kPin.
    static const std::vector<std::string>& Pkcs12Names();
    // Those the system's openssl reads without -legacy.
    static bool IsModern(const std::string& name);

private:
    Fixtures();
    TempDir m_dir;
};

}  // namespace testing_support
