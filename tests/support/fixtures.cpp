#include "tests/support/fixtures.h"

#include <algorithm>
#include <filesystem>
#include <stdexcept>

namespace testing_support {

Fixtures::Fixtures() {
    // Copies, so that no test can change what the next test program starts from.
    std::filesystem::copy(PINTOOL_FIXTURE_DIR, m_dir.path(),
                          std::filesystem::copy_options::recursive);
    for (const std::string& name : Pkcs12Names()) {
        if (!std::filesystem::exists(Path(name))) {
            throw std::runtime_error("no fixture " + name +
                                     " in " PINTOOL_FIXTURE_DIR
                                     ": ctest's Fixtures tests make them");
        }
    }
}

const Fixtures& Fixtures::Get() {
    static const Fixtures fixtures;
    return fixtures;
}

std::string Fixtures::CopyTo(const std::string& name, const TempDir& dir) const {
    const std::string target = dir / name;
    WriteAll(target, Bytes(name));
    return target;
}

const std::vector<std::string>& Fixtures::Pkcs12Names() {
    static const std::vector<std::string> names = {
        "modern.p12",        "legacy.p12",       "descert.p12",
        "nomac.p12",         "sha512.p12",       "ec.p12",
        "exotic.p12",        "old-encoding.p12", "unencrypted-certs.p12",
        "pbes2-ciphers.p12", "aria-sm4.p12",     "pkcs5v1.p12",
        "rc4-2des.p12",      "unencrypted.p12"};
    return names;
}

bool Fixtures::IsModern(const std::string& name) {
    static const std::vector<std::string> modern = {
        "modern.p12",   "nomac.p12",       "sha512.p12",
        "ec.p12",       "descert.p12",     "pbes2-ciphers.p12",
        "aria-sm4.p12", "unencrypted.p12", "unencrypted-certs.p12"};
    return std::find(modern.begin(), modern.end(), name) != modern.end();
}

}  // namespace testing_support
