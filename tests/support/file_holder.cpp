#include <windows.h>

#include <string_view>

// Holds a file for a while as other programs on Windows do: a virus scanner, the search
// indexer, a sync client. The replacement's tests start it as a second process, since Windows
// (and Wine) weigh the sharing of one process's handles against another's.
//
//   file_holder PATH HOW HELD RELEASE
//
// HOW is "read": open for reading, others may read only (a file pintool then cannot open);
// "look": open for its attributes only, which any program may while pintool holds the file,
// and which stops a rename over it; "rewrite": look, and write "renewed" into the file in place
// as soon as pintool lets it go, looking on. The named event HELD is set once the file is held;
// the file is let go when the named event RELEASE is set.

namespace {

HANDLE Hold(const char* path, std::string_view how) {
    if (how == "read") {
        return CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    }
    return CreateFileA(path, FILE_READ_ATTRIBUTES,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, 0, nullptr);
}

// Writes in place once the file can be opened for writing, until `release` is set.
bool Rewrite(const char* path, HANDLE release) {
    constexpr char kRenewed[] = "renewed";
    while (WaitForSingleObject(release, 1) == WAIT_TIMEOUT) {
        const HANDLE file =
            CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        nullptr, OPEN_EXISTING, 0, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            const bool done = WriteFile(file, kRenewed, sizeof kRenewed - 1, &written, nullptr) &&
                              SetEndOfFile(file) && written == sizeof kRenewed - 1;
            CloseHandle(file);
            return done;
        }
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        return 2;
    }
    const std::string_view how = argv[2];
    const HANDLE held = OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[3]);
    const HANDLE release = OpenEventA(SYNCHRONIZE, FALSE, argv[4]);
    const HANDLE file = Hold(argv[1], how);
    if (held == nullptr || release == nullptr || file == INVALID_HANDLE_VALUE) {
        return 3;
    }
    SetEvent(held);
    // Having written, it still looks at the file: a rename over it stays refused until the
    // change has seen what was written.
    const bool done = how != "rewrite" || Rewrite(argv[1], release);
    WaitForSingleObject(release, INFINITE);
    CloseHandle(file);
    CloseHandle(release);
    CloseHandle(held);
    return done ? 0 : 4;
}
