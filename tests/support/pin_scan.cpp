// Reads the memory of a running process and prints where it holds a PIN, one line for each copy
// of each of the PIN's forms (PinForms):
//   pin 2, PIN UTF-16LE: 0x7f0e5c2a10 outside the locked arena ([heap], VmFlags: rd wr mr mw me ac)
// A copy lies in the locked arena when its mapping is locked in memory (lo) and left out of
// core dumps (dd). Every readable mapping is read.
// Usage: pin_scan PID PIN...   Ends with 1 when the memory cannot be read.

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/secret_scan.h"

namespace {

using testing_support::Needle;

struct Mapping {
    std::uintptr_t start = 0;
    std::uintptr_t end = 0;
    bool readable = false;
    std::string name;
    std::string flags;

    bool InLockedArena() const {
        std::istringstream words(flags);
        std::string word;
        bool locked = false, undumped = false;
        while (words >> word) {
            locked = locked || word == "lo";
            undumped = undumped || word == "dd";
        }
        return locked && undumped;
    }
};

// The mappings of /proc/PID/smaps: a line "start-end perms offset device inode [name]" each,
// its VmFlags a few lines further.
std::vector<Mapping> MappingsOf(const std::string& pid) {
    std::ifstream smaps("/proc/" + pid + "/smaps");
    std::vector<Mapping> mappings;
    std::string line;
    while (std::getline(smaps, line)) {
        if (line.rfind("VmFlags:", 0) == 0 && !mappings.empty()) {
            mappings.back().flags = line.substr(9);
            continue;
        }
        unsigned long start = 0, end = 0;
        char perms[5] = {};
        int consumed = 0;
        if (std::sscanf(line.c_str(), "%lx-%lx %4s %*s %*s %*s%n", &start, &end, perms,
                        &consumed) == 3 &&
            line.find(':') > line.find(' ')) {
            const std::size_t name =
                line.find_first_not_of(' ', static_cast<std::size_t>(consumed));
            mappings.push_back({start, end, perms[0] == 'r',
                                name == std::string::npos ? "[anon]" : line.substr(name), ""});
        }
    }
    return mappings;
}

void Report(const std::vector<std::vector<Needle>>& pins, const unsigned char* data,
            std::size_t length, std::size_t counted, std::uintptr_t address,
            const Mapping& mapping) {
    for (std::size_t k = 0; k < pins.size(); ++k) {
        if (testing_support::FindNeedle(data, length, pins[k]) == nullptr) {
            continue;
        }
        for (const Needle& needle : pins[k]) {
            const auto* bytes = reinterpret_cast<const unsigned char*>(needle.bytes.data());
            for (const unsigned char* at = data;
                 (at = std::search(at, data + length, bytes, bytes + needle.bytes.size())) !=
                 data + length;
                 ++at) {
                if (static_cast<std::size_t>(at - data) < counted) {
                    std::printf("pin %zu, %s: %#lx %s (%s, VmFlags: %s)\n", k + 1,
                                needle.name.c_str(),
                                static_cast<unsigned long>(address + (at - data)),
                                mapping.InLockedArena() ? "in the locked arena"
                                                        : "outside the locked arena",
                                mapping.name.c_str(), mapping.flags.c_str());
                }
            }
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fputs("usage: pin_scan PID PIN...\n", stderr);
        return 2;
    }
    const std::string pid = argv[1];
    std::vector<std::vector<Needle>> pins;
    std::size_t longest = 0;
    for (int i = 2; i < argc; ++i) {
        pins.push_back(testing_support::PinForms(argv[i]));
        for (const Needle& needle : pins.back()) {
            longest = std::max(longest, needle.bytes.size());
        }
    }
    const int memory = open(("/proc/" + pid + "/mem").c_str(), O_RDONLY);
    const std::vector<Mapping> mappings = MappingsOf(pid);
    if (memory < 0 || mappings.empty()) {
        std::perror(("pin_scan: cannot read the memory of " + pid).c_str());
        return 1;
    }
    // A chunk at a time; each reaches into the next by a needle's length but one, so that a
    // copy across chunks is found, and counted in the chunk it begins in.
    constexpr std::size_t kChunk = 1 << 20;
    std::vector<unsigned char> buffer(kChunk + longest);
    std::size_t read = 0;
    for (const Mapping& mapping : mappings) {
        for (std::uintptr_t at = mapping.start; mapping.readable && at < mapping.end;
             at += kChunk) {
            const std::size_t wanted =
                std::min<std::uintptr_t>(mapping.end - at, kChunk + longest - 1);
            const ssize_t got = pread(memory, buffer.data(), wanted, static_cast<off_t>(at));
            if (got > 0) {
                read += static_cast<std::size_t>(got);
                Report(pins, buffer.data(), static_cast<std::size_t>(got), kChunk, at, mapping);
            }
        }
    }
    close(memory);
    if (read == 0) {
        std::fprintf(stderr, "pin_scan: nothing of %s's memory could be read\n", pid.c_str());
        return 1;
    }
    return 0;
}
