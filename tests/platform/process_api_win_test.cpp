#include <windows.h>

#include <aclapi.h>
#include <gtest/gtest.h>

#include <cstddef>
#include <memory>
#include <string>
#include <thread>

#include "platform/process_api.h"
#include "tests/support/test_files.h"

// What the process asks of Windows before it handles a secret, read back as far as Wine models
// it: the process's DACL as the system's access check evaluates it for the user's own token, the
// folders libraries are loaded from, the error mode. Each test runs in a process of its own.

namespace {

using testing_support::TempDir;

struct LocalFreer {
    void operator()(void* memory) const noexcept { LocalFree(memory); }
};
struct HandleCloser {
    void operator()(HANDLE handle) const noexcept { CloseHandle(handle); }
};
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

// The user's own token, as a thread impersonating it would hold it.
UniqueHandle UserToken() {
    HANDLE process = nullptr;
    HANDLE impersonation = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, &process)) {
        return nullptr;
    }
    const UniqueHandle owned(process);
    if (!DuplicateToken(process, SecurityImpersonation, &impersonation)) {
        return nullptr;
    }
    return UniqueHandle(impersonation);
}

const GENERIC_MAPPING kProcessMapping{
    STANDARD_RIGHTS_READ | PROCESS_VM_READ | PROCESS_QUERY_INFORMATION,
    STANDARD_RIGHTS_WRITE | PROCESS_VM_WRITE | PROCESS_VM_OPERATION,
    STANDARD_RIGHTS_EXECUTE | SYNCHRONIZE, PROCESS_ALL_ACCESS};

// Whether a process of the same user may open `object` (this process by default) with `access`,
// by its security as set.
bool UserMayOpen(DWORD access, HANDLE object = GetCurrentProcess(),
                 GENERIC_MAPPING mapping = kProcessMapping) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    EXPECT_EQ(GetSecurityInfo(object, SE_KERNEL_OBJECT,
                              OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION |
                                  DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, nullptr, nullptr, &descriptor),
              static_cast<DWORD>(ERROR_SUCCESS));
    const std::unique_ptr<void, LocalFreer> owned(descriptor);
    const UniqueHandle token = UserToken();
    EXPECT_NE(token, nullptr);
    PRIVILEGE_SET privileges{};
    DWORD privilegesSize = sizeof(privileges);
    DWORD granted = 0;
    BOOL allowed = FALSE;
    EXPECT_TRUE(AccessCheck(descriptor, token.get(), access, &mapping, &privileges, &privilegesSize,
                            &granted, &allowed))
        << GetLastError();
    return allowed != FALSE && granted == access;
}

TEST(ShutOutOtherProcesses, TheUserMayNoLongerReadWriteOrTakeOverTheProcess) {
    // As Wine makes a process, its user may do everything with it.
    ASSERT_TRUE(ShutOutOtherProcesses());
    const struct {
        DWORD right;
        const char* name;
    } kForbidden[] = {
        {PROCESS_VM_READ, "PROCESS_VM_READ"},
        {PROCESS_VM_WRITE, "PROCESS_VM_WRITE"},
        {PROCESS_VM_OPERATION, "PROCESS_VM_OPERATION"},
        {PROCESS_DUP_HANDLE, "PROCESS_DUP_HANDLE"},
        {PROCESS_CREATE_THREAD, "PROCESS_CREATE_THREAD"},
        {PROCESS_CREATE_PROCESS, "PROCESS_CREATE_PROCESS"},
        {PROCESS_SET_INFORMATION, "PROCESS_SET_INFORMATION"},
        {PROCESS_SET_QUOTA, "PROCESS_SET_QUOTA"},
        {PROCESS_SUSPEND_RESUME, "PROCESS_SUSPEND_RESUME"},
        {PROCESS_QUERY_INFORMATION, "PROCESS_QUERY_INFORMATION"},
    };
    for (const auto& forbidden : kForbidden) {
        EXPECT_FALSE(UserMayOpen(forbidden.right)) << forbidden.name;
    }
    // What Task Manager needs to show and end it, and a parent to wait for it.
    EXPECT_TRUE(UserMayOpen(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE));
}

// A thread's default DACL lets the user get and set its registers; the tool's threads do not.
TEST(ShutOutOtherProcesses, TheUserMayNoLongerReadOrSteerTheToolsThreads) {
    const GENERIC_MAPPING threadMapping{STANDARD_RIGHTS_READ | THREAD_GET_CONTEXT,
                                        STANDARD_RIGHTS_WRITE | THREAD_SET_CONTEXT,
                                        STANDARD_RIGHTS_EXECUTE | SYNCHRONIZE, THREAD_ALL_ACCESS};
    std::thread([&] {
        ASSERT_TRUE(ShutOutOtherProcessesFromThisThread());
        for (const DWORD forbidden :
             {THREAD_GET_CONTEXT, THREAD_SET_CONTEXT, THREAD_SUSPEND_RESUME, THREAD_TERMINATE,
              THREAD_SET_INFORMATION, THREAD_QUERY_INFORMATION, THREAD_IMPERSONATE,
              THREAD_DIRECT_IMPERSONATION}) {
            EXPECT_FALSE(UserMayOpen(forbidden, GetCurrentThread(), threadMapping)) << forbidden;
        }
        EXPECT_TRUE(UserMayOpen(SYNCHRONIZE | THREAD_QUERY_LIMITED_INFORMATION, GetCurrentThread(),
                                threadMapping));
    }).join();
}

bool IsWellKnown(PSID sid, WELL_KNOWN_SID_TYPE type) {
    return IsWellKnownSid(sid, type) != FALSE;
}

// WRITE_DAC and WRITE_OWNER, read from the entries themselves: Wine's access check gives the
// owner READ_CONTROL and WRITE_DAC whatever the DACL says, as Windows did before OWNER RIGHTS.
TEST(ShutOutOtherProcesses, TheOwnerMayNotChangeTheDaclEither) {
    ASSERT_TRUE(ShutOutOtherProcesses());
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PACL dacl = nullptr;
    ASSERT_EQ(GetSecurityInfo(GetCurrentProcess(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, &dacl, nullptr, &descriptor),
              static_cast<DWORD>(ERROR_SUCCESS));
    const std::unique_ptr<void, LocalFreer> owned(descriptor);
    ASSERT_NE(dacl, nullptr);  // a null DACL would let everyone in
    const UniqueHandle token = UserToken();
    alignas(TOKEN_USER) std::byte user[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD userSize = 0;
    ASSERT_TRUE(GetTokenInformation(token.get(), TokenUser, user, sizeof(user), &userSize));
    const PSID userSid = reinterpret_cast<const TOKEN_USER*>(user)->User.Sid;
    int ownerRights = 0;
    int users = 0;
    for (DWORD index = 0; index < dacl->AceCount; ++index) {
        void* entry = nullptr;
        ASSERT_TRUE(GetAce(dacl, index, &entry));
        ASSERT_EQ(static_cast<ACE_HEADER*>(entry)->AceType, ACCESS_ALLOWED_ACE_TYPE);
        const auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
        const PSID sid = const_cast<DWORD*>(&allowed->SidStart);
        if (IsWellKnown(sid, WinCreatorOwnerRightsSid)) {
            ++ownerRights;
            EXPECT_EQ(allowed->Mask, static_cast<DWORD>(READ_CONTROL));
        } else if (EqualSid(sid, userSid)) {
            ++users;
            EXPECT_EQ(allowed->Mask & (WRITE_DAC | WRITE_OWNER | DELETE), 0u);
        } else {
            // No group of the user's (Administrators, Everyone) has an entry.
            EXPECT_TRUE(IsWellKnown(sid, WinLocalSystemSid)) << "entry " << index;
        }
    }
    EXPECT_EQ(ownerRights, 1);
    EXPECT_EQ(users, 1);
}

std::wstring ProgramFolder() {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    return folder.substr(0, folder.find_last_of(L"\\/") + 1);
}

std::wstring Widen(const std::string& path) {
    std::wstring wide(path.size(), L'\0');
    wide.resize(static_cast<std::size_t>(
        MultiByteToWideChar(CP_UTF8, 0, path.data(), static_cast<int>(path.size()), wide.data(),
                            static_cast<int>(wide.size()))));
    return wide;
}

struct LibraryFreer {
    void operator()(HMODULE module) const noexcept { FreeLibrary(module); }
};
using UniqueLibrary = std::unique_ptr<std::remove_pointer_t<HMODULE>, LibraryFreer>;

// pintool_probe.dll lies beside the test program (CMake puts it there); a copy under another
// name goes to the current folder.
TEST(LoadLibrariesFromSystemFolderOnly, NoLibraryBesideTheProgramOrInTheCurrentFolderIsLoaded) {
    const TempDir dir;
    const std::wstring beside = ProgramFolder() + L"pintool_probe.dll";
    ASSERT_TRUE(CopyFileW(beside.c_str(), Widen(dir / "pintool_probe_here.dll").c_str(), TRUE));
    wchar_t previous[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(Widen(dir.path()).c_str()));

    ASSERT_TRUE(LoadLibrariesFromSystemFolderOnly());
    const UniqueLibrary besideByName(LoadLibraryW(L"pintool_probe.dll"));
    const UniqueLibrary hereByName(LoadLibraryW(L"pintool_probe_here.dll"));
    const UniqueLibrary hereAltered(
        LoadLibraryExW(L"pintool_probe_here.dll", nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
    EXPECT_EQ(besideByName, nullptr);
    EXPECT_EQ(hereByName, nullptr);
    EXPECT_EQ(hereAltered, nullptr);
    // Not for want of a loadable library: by its full path it loads; and the system's still
    // load by name.
    const UniqueLibrary byPath(LoadLibraryW(beside.c_str()));
    EXPECT_NE(byPath, nullptr);
    const UniqueLibrary system(LoadLibraryW(L"version.dll"));
    EXPECT_NE(system, nullptr);
    SetCurrentDirectoryW(previous);
}

// GoogleTest sets an error mode of its own; the test starts from the system's default. Wine
// keeps no error reporting flags (WerGetFlags is not implemented there).
TEST(ForbidCoreDumps, CrashesAreNotReportedToWindowsErrorReporting) {
    SetErrorMode(0);
    const LPTOP_LEVEL_EXCEPTION_FILTER before = SetUnhandledExceptionFilter(nullptr);
    ASSERT_TRUE(ForbidCoreDumps());
    EXPECT_NE(GetErrorMode() & SEM_NOGPFAULTERRORBOX, 0u);
    EXPECT_NE(GetErrorMode() & SEM_FAILCRITICALERRORS, 0u);
    // A filter of its own ends the process before a report could be made.
    const LPTOP_LEVEL_EXCEPTION_FILTER installed = SetUnhandledExceptionFilter(before);
    EXPECT_NE(installed, nullptr);
    EXPECT_NE(installed, before);
}

}  // namespace
