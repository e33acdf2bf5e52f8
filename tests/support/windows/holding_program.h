#pragma once
// Another program that holds a file for a while, as virus scanners, the search indexer and sync
// clients do on Windows: file_holder.exe (tests/support/file_holder.cpp), started beside the
// test program as a process of its own.

#include <windows.h>

#include <functional>
#include <string>

namespace testing_support {

class HoldingProgram {
public:
    // How it holds the file: see file_holder.cpp. It lets go when Finish is called.
    HoldingProgram(const std::string& path, const char* how);
    HoldingProgram(const HoldingProgram&) = delete;
    HoldingProgram& operator=(const HoldingProgram&) = delete;
    ~HoldingProgram();

    // Waits until it holds the file, as long as a loaded machine may take to start it; false
    // when it ended without.
    bool Holds() const;
    // Lets it go, waits for it to end and says how it ended: 0 when it did what it was asked.
    DWORD Finish();

private:
    HANDLE m_held = nullptr;
    HANDLE m_release = nullptr;
    PROCESS_INFORMATION m_process{};
};

// While one lives, `action` runs when a file replacement first pauses for another program's
// hold: the holding program acts then (lets go, writes), whenever the replacement gets there,
// and not after a time of its own.
class OnFirstPause {
public:
    explicit OnFirstPause(std::function<void()> action);
    OnFirstPause(const OnFirstPause&) = delete;
    OnFirstPause& operator=(const OnFirstPause&) = delete;
    ~OnFirstPause();
};

}  // namespace testing_support
