// Writes the files that cost the tool the most time and memory within its limits, and valid
// files it may misjudge, into the folder given, with pin.txt holding their PIN; for
// tests/core/check_hostile_files.sh and bench/hostile_files.sh.
#include <exception>
#include <iostream>
#include <string>

#include "pkcs12/limits.h"
#include "tests/support/fixtures.h"
#include "tests/support/hostile_builder.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: build_hostile DIR\n";
        return 2;
    }
    const std::string dir = argv[1];
    try {
        testing_support::WriteAll(dir + "/pin.txt", testing_support::kPin);
        for (const auto& file : testing_support::HostileFiles()) {
            const testing_support::Der bytes = file.build();
            if (bytes.size() > kMaxPfxBytes) {
                std::cerr << file.name << " is beyond the size limit\n";
                return 1;
            }
            testing_support::WriteAll(dir + "/" + file.name, bytes);
        }
    } catch (const std::exception& error) {
        std::cerr << error.what() << '\n';
        return 1;
    }
    return 0;
}
