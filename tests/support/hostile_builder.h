#pragma once
// Files made to stay just inside the tool's limits (size, bags, key-derivation work) while
// asking for as much time or memory as they can, and valid files the tool may misjudge. Each is
// a PKCS#12 file with a SHA-256 MAC under kPin.

#include <vector>

#include "tests/support/bag_builder.h"

namespace testing_support {

struct HostileFile {
    const char* name;  // says what the file holds
    Der (*build)();    // most files are near the size limit: made only when asked for
};

const std::vector<HostileFile>& HostileFiles();

}  // namespace testing_support
