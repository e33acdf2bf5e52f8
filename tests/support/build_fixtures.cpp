// Adds the fixtures no openssl command writes to the folder make_fixtures.sh filled; run once
// per test run, before the tests (ctest's Fixtures.Built).
#include <exception>
#include <iostream>
#include <string>

#include "tests/support/fixtures.h"
#include "tests/support/pfx_builder.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: build_fixtures DIR\n";
        return 2;
    }
    const std::string dir = argv[1];
    try {
        testing_support::BuildExotic(dir, dir + "/exotic.p12", testing_support::kPin);
        testing_support::BuildOldEncoding(dir, dir + "/old-encoding.p12", testing_support::kPin);
    } catch (const std::exception& error) {
        std::cerr << error.what() << '\n';
        return 1;
    }
    return 0;
}
