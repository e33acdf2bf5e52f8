#include <windows.h>

#include <aclapi.h>

#include <cstddef>
#include <memory>

#include "platform/process_api.h"

namespace {

// What other processes of the user may still do with the tool's process: wait for its end,
// see that it runs, and end it (Task Manager). Reading or writing its memory, duplicating its
// handles, starting threads in it, suspending it, setting its information and changing its
// DACL or owner are not among them. SYSTEM keeps every right.
constexpr DWORD kUserRights = SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE;
// The owner holds READ_CONTROL and WRITE_DAC without any entry, and with WRITE_DAC could grant
// itself the rest; an entry for OWNER RIGHTS replaces those implicit rights.
constexpr DWORD kOwnerRights = READ_CONTROL;

// What they may do with its threads: wait for them and see that they run. Reading or setting
// their registers, suspending them, impersonating through them are not among them.
constexpr DWORD kUserThreadRights = SYNCHRONIZE | THREAD_QUERY_LIMITED_INFORMATION;

// Reports of the process, should there be any, carry no heap.
constexpr DWORD kWerNoHeap = 1;  // WER_FAULT_REPORTING_FLAG_NOHEAP

struct HandleCloser {
    void operator()(HANDLE handle) const noexcept { CloseHandle(handle); }
};
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

// A SID of any kind, in place.
struct SidBuffer {
    alignas(SID) std::byte bytes[SECURITY_MAX_SID_SIZE];
    PSID sid() noexcept { return bytes; }
};

bool CopyProcessUser(SidBuffer& user) noexcept {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return false;
    }
    const UniqueHandle owned(token);
    alignas(TOKEN_USER) std::byte buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    if (!GetTokenInformation(token, TokenUser, buffer, sizeof(buffer), &size)) {
        return false;
    }
    const PSID sid = reinterpret_cast<const TOKEN_USER*>(buffer)->User.Sid;
    return CopySid(sizeof(user.bytes), user.sid(), sid) != FALSE;
}

// KERNEL32's WerSetFlags, which MinGW's werapi.h does not declare in a form that compiles.
bool SetErrorReportingFlags(DWORD flags) noexcept {
    using SetFlags = HRESULT(WINAPI*)(DWORD);
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    const auto setFlags = kernel != nullptr ? reinterpret_cast<SetFlags>(reinterpret_cast<void*>(
                                                  GetProcAddress(kernel, "WerSetFlags")))
                                            : nullptr;
    return setFlags != nullptr && SUCCEEDED(setFlags(flags));
}

bool MakeWellKnown(WELL_KNOWN_SID_TYPE type, SidBuffer& out) noexcept {
    DWORD size = sizeof(out.bytes);
    return CreateWellKnownSid(type, nullptr, out.sid(), &size) != FALSE;
}

// Ends the process before Windows Error Reporting could write a dump of its memory.
LONG WINAPI EndAtOnce(EXCEPTION_POINTERS* exception) {
    TerminateProcess(GetCurrentProcess(), exception->ExceptionRecord->ExceptionCode);
    return EXCEPTION_CONTINUE_SEARCH;
}

// Gives `object` a DACL, protected from inheritance, that grants the user no more than
// `userRights`, the owner no more than kOwnerRights and SYSTEM `allRights`.
bool ShutOut(HANDLE object, DWORD userRights, DWORD allRights) noexcept {
    SidBuffer user;
    SidBuffer ownerRights;
    SidBuffer system;
    if (!CopyProcessUser(user) || !MakeWellKnown(WinCreatorOwnerRightsSid, ownerRights) ||
        !MakeWellKnown(WinLocalSystemSid, system)) {
        return false;
    }
    constexpr DWORD kAceSize = sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + SECURITY_MAX_SID_SIZE;
    alignas(DWORD) std::byte buffer[sizeof(ACL) + 3 * kAceSize];
    auto* acl = reinterpret_cast<ACL*>(buffer);
    if (!InitializeAcl(acl, sizeof(buffer), ACL_REVISION) ||
        !AddAccessAllowedAce(acl, ACL_REVISION, userRights, user.sid()) ||
        !AddAccessAllowedAce(acl, ACL_REVISION, kOwnerRights, ownerRights.sid()) ||
        !AddAccessAllowedAce(acl, ACL_REVISION, allRights, system.sid())) {
        return false;
    }
    return SetSecurityInfo(object, SE_KERNEL_OBJECT,
                           DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                           nullptr, acl, nullptr) == ERROR_SUCCESS;
}

}  // namespace

bool LoadLibrariesFromSystemFolderOnly() noexcept {
    // LoadLibrary of a bare name, and the libraries those load in turn, come from System32
    // only: not from the program's folder, the current folder or PATH. The file dialog loads
    // dozens of them (shell extensions among them) long after start-up. SetDllDirectoryW("")
    // also takes the current folder out of the older search order that a caller asking for
    // LOAD_WITH_ALTERED_SEARCH_PATH still gets. The libraries the program imports are loaded
    // before it runs and are every one the system's (tests/res/check_windows_program.sh).
    return SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) != FALSE &&
           SetDllDirectoryW(L"") != FALSE;
}

bool ShutOutOtherProcesses() noexcept {
    // A process's default DACL lets every process of the same user open it with all rights,
    // PROCESS_VM_READ among them. SeDebugPrivilege (administrators, elevated) still passes this
    // one.
    return ShutOut(GetCurrentProcess(), kUserRights, PROCESS_ALL_ACCESS);
}

bool ShutOutOtherProcessesFromThisThread() noexcept {
    // A thread's default DACL comes from its token, and lets the user get and set its context.
    return ShutOut(GetCurrentThread(), kUserThreadRights, THREAD_ALL_ACCESS);
}

bool ForbidCoreDumps() noexcept {
    // SEM_NOGPFAULTERRORBOX: the system does not invoke Windows Error Reporting for the
    // process's faults, which would otherwise write a dump of its memory to the user's disk
    // (and an administrator's LocalDumps setting a full one). The filter ends the process
    // before any report is made, for a fault the error mode would let through. Should a report
    // be made all the same (a fail-fast exception goes to Windows Error Reporting directly),
    // it carries no heap, where the PINs are. WerAddExcludedApplication would do it by the
    // program's name, in the registry, for every program of that name; the tool writes no
    // settings.
    SetErrorMode(GetErrorMode() | SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    SetUnhandledExceptionFilter(EndAtOnce);
    return SetErrorReportingFlags(kWerNoHeap);
}

void AllowLockingMemory(std::size_t bytes) noexcept {
    // VirtualLock locks no more than the minimum working set allows, by default a few hundred
    // kilobytes.
    const HANDLE process = GetCurrentProcess();
    SIZE_T minimum = 0;
    SIZE_T maximum = 0;
    if (GetProcessWorkingSetSize(process, &minimum, &maximum)) {
        SetProcessWorkingSetSize(process, minimum + bytes, maximum + bytes);
    }
}
