#pragma once
// Searches every block the test program frees for secrets: through operator delete in all its
// forms, and through the C library's free and realloc, which OpenSSL's memory functions (the
// tool's own, installed by this program's main as by pintool's), Qt and the C++ library end in.

#include <string>
#include <vector>

#include "tests/support/secret_scan.h"

namespace testing_support {

// False under AddressSanitizer, whose allocator owns free and operator delete, or when the
// tool's OpenSSL memory functions could not be installed.
bool FreedHeapIsWatched();

// While it lives, a freed block holding one of the needles counts as a hit. Make the needles
// before: their own temporaries would count.
class FreedHeapWatch {
public:
    explicit FreedHeapWatch(const std::vector<Needle>& needles);
    FreedHeapWatch(const FreedHeapWatch&) = delete;
    FreedHeapWatch& operator=(const FreedHeapWatch&) = delete;
    ~FreedHeapWatch();

    // What was found so far, with the size of the block that held it.
    std::vector<std::string> Hits() const;
};

}  // namespace testing_support
