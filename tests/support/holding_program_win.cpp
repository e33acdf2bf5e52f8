#include "holding_program.h"

#include <string>
#include <utility>

#include "tests/support/buffer_switches.h"

namespace testing_support {

namespace {

constexpr DWORD kStartAndEnd = 60000;  // ms; a loaded machine may take long to start Wine

std::function<void()> g_onFirstPause;

void RunOnFirstPause() {
    const std::function<void()> action = std::move(g_onFirstPause);
    g_onFirstPause = nullptr;
    if (action) {
        action();
    }
}

// file_holder.exe, which the build puts beside the test programs.
std::string HolderPath() {
    std::string own(MAX_PATH, '\0');
    own.resize(GetModuleFileNameA(nullptr, own.data(), static_cast<DWORD>(own.size())));
    return own.substr(0, own.find_last_of("\\/") + 1) + "file_holder.exe";
}

}  // namespace

HoldingProgram::HoldingProgram(const std::string& path, const char* how) {
    static int started = 0;
    const std::string events = "Local\\pintool-holder-" + std::to_string(GetCurrentProcessId()) +
                               "-" + std::to_string(++started);
    m_held = CreateEventA(nullptr, TRUE, FALSE, (events + "-held").c_str());
    m_release = CreateEventA(nullptr, TRUE, FALSE, (events + "-release").c_str());
    std::string command = "\"" + HolderPath() + "\" \"" + path + "\" " + how + " " + events +
                          "-held " + events + "-release";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &m_process)) {
        m_process = {};
    }
}

HoldingProgram::~HoldingProgram() {
    Finish();
    CloseHandle(m_held);
    CloseHandle(m_release);
}

bool HoldingProgram::Holds() const {
    if (m_process.hProcess == nullptr) {
        return false;
    }
    const HANDLE either[] = {m_held, m_process.hProcess};
    return WaitForMultipleObjects(2, either, FALSE, kStartAndEnd) == WAIT_OBJECT_0;
}

DWORD HoldingProgram::Finish() {
    if (m_process.hProcess == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    SetEvent(m_release);
    DWORD code = STILL_ACTIVE;
    if (WaitForSingleObject(m_process.hProcess, kStartAndEnd) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(m_process.hProcess, &code)) {
        TerminateProcess(m_process.hProcess, 1);
    }
    CloseHandle(m_process.hThread);
    CloseHandle(m_process.hProcess);
    m_process = {};
    return code;
}

OnFirstPause::OnFirstPause(std::function<void()> action) {
    g_onFirstPause = std::move(action);
    buffer_switches::SetPauseObserver(&RunOnFirstPause);
}

OnFirstPause::~OnFirstPause() {
    buffer_switches::SetPauseObserver(nullptr);
    g_onFirstPause = nullptr;
}

}  // namespace testing_support
