#include <windows.h>

#include <aclapi.h>
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>

#include "core/soft_certificate.h"
#include "holding_program.h"
#include "platform/file_api.h"
#include "tests/support/engine_switches.h"
#include "tests/support/fixtures.h"
#include "tests/support/pfx_builder.h"
#include "tests/support/pfx_description.h"

// The PIN change on Windows, through the system's file and string functions: every fixture,
// PINs beyond Windows-1252, files in use for a moment or for long, read-only, and named beyond
// ASCII and MAX_PATH. What
// openssl reads of a changed file is checked on the build machine's side afterwards.

namespace {

using testing_support::DescribePfx;
using testing_support::Fixtures;
using testing_support::kPin;
using testing_support::ReadAll;
using testing_support::TempDir;

// Beyond Windows-1252 (Ω, the Cyrillic м): only a UTF-8 code page holds it.
const std::string kNewPin = "Schlüssel€ Ωм";

struct ChosenFile {
    TempDir dir;
    std::string path;
    std::string original;
    CByteBuffer certificate;

    explicit ChosenFile(const std::string& name, const std::string& as = "")
        : path(dir / (as.empty() ? name : as)), original(Fixtures::Get().Bytes(name)) {
        testing_support::WriteAll(path, original);
        EXPECT_EQ(OpenSoftCertificate(path.c_str(), certificate), Outcome::Accepted);
    }
    Outcome Change(const std::string& oldPin, const std::string& newPin, Reason& reason) const {
        return ChangePin(certificate, path.c_str(), oldPin.c_str(), newPin.c_str(), newPin.c_str(),
                         reason);
    }
    bool Unchanged() const { return ReadAll(path) == original && dir.List().size() == 1; }
};

TEST(ChangePinWindows, EveryFixtureOpensWithTheNewPinOnlyAndHoldsTheSameContents) {
    for (const std::string& name : Fixtures::Pkcs12Names()) {
        SCOPED_TRACE(name);
        const ChosenFile file(name);
        Reason reason = Reason::None;
        ASSERT_EQ(file.Change(kPin, kNewPin, reason), Outcome::PinChanged);
        const std::string changed = ReadAll(file.path);
        // A file in the older password encoding comes out in the standard one.
        const std::string oldPin =
            name == "old-encoding.p12" ? testing_support::WidenBytes(kPin) : kPin;
        EXPECT_EQ(DescribePfx(changed, kNewPin),
                  testing_support::ExpectedAfterChange(DescribePfx(file.original, oldPin)));
        EXPECT_EQ(file.dir.List().size(), 1u) << "a temporary file was left behind";
        CByteBuffer reloaded;
        ASSERT_EQ(OpenSoftCertificate(file.path.c_str(), reloaded), Outcome::Accepted);
        EXPECT_EQ(ChangePin(reloaded, file.path.c_str(), kPin.c_str(), "x", "x"),
                  Outcome::CannotOpenWithOldPin);
        EXPECT_EQ(ReadAll(file.path), changed);
    }
}

TEST(ChangePinWindows, ChecksTheEntriesWithTheSystemsStringFunctions) {
    const ChosenFile file("modern.p12");
    EXPECT_EQ(ChangePin(file.certificate, file.path.c_str(), "", "", ""), Outcome::OldPinMissing);
    EXPECT_EQ(ChangePin(file.certificate, file.path.c_str(), "alt", "", "neu"),
              Outcome::NewPinMissing);
    EXPECT_EQ(ChangePin(file.certificate, file.path.c_str(), "alt", "neu", ""),
              Outcome::RepeatMissing);
    EXPECT_EQ(ChangePin(file.certificate, file.path.c_str(), "alt", "Straße", "STRASSE"),
              Outcome::RepeatDiffers);
    EXPECT_EQ(ChangePin(file.certificate, file.path.c_str(), "alt", "Ωм", "Ωm"),
              Outcome::RepeatDiffers);
    // A PIN differing from the file's only beyond Windows-1252 does not open it.
    EXPECT_EQ(ChangePin(file.certificate, file.path.c_str(), "Grüße€Ω", "neu", "neu"),
              Outcome::CannotOpenWithOldPin);
    EXPECT_TRUE(file.Unchanged());
}

TEST(ChangePinWindows, AFileInUseIsSaidSoAndLeftAsItWas) {
    const ChosenFile file("legacy.p12");
    const HANDLE reader = CreateFileA(file.path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    Reason reason = Reason::None;
    EXPECT_EQ(file.Change(kPin, kNewPin, reason), Outcome::CannotSave);
    EXPECT_EQ(reason, Reason::FileInUse);
    CloseHandle(reader);
    EXPECT_TRUE(file.Unchanged());
    // Held by a writer, it cannot even be read.
    const HANDLE writer =
        CreateFileA(file.path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    CByteBuffer certificate;
    EXPECT_EQ(OpenSoftCertificate(file.path.c_str(), certificate), Outcome::FileInUse);
    CloseHandle(writer);
}

TEST(ChangePinWindows, AProgramThatLooksAtTheFileForAMomentIsWaitedFor) {
    const ChosenFile file("modern.p12");
    testing_support::HoldingProgram scanner(file.path, "look");
    ASSERT_TRUE(scanner.Holds());
    DWORD ended = STILL_ACTIVE;
    const testing_support::OnFirstPause letGo([&] { ended = scanner.Finish(); });
    Reason reason = Reason::None;
    EXPECT_EQ(file.Change(kPin, kNewPin, reason), Outcome::PinChanged);
    EXPECT_EQ(ended, 0u) << "the change did not wait";
    EXPECT_EQ(DescribePfx(ReadAll(file.path), kNewPin), DescribePfx(file.original, kPin));
    EXPECT_EQ(file.dir.List().size(), 1u);
}

TEST(ChangePinWindows, AProgramThatKeepsTheFileOpenIsNamedAsUsingIt) {
    const ChosenFile file("modern.p12");
    testing_support::HoldingProgram scanner(file.path, "look");
    ASSERT_TRUE(scanner.Holds());
    Reason reason = Reason::None;
    EXPECT_EQ(file.Change(kPin, kNewPin, reason), Outcome::CannotSave);
    // Not the folder's permissions: the rename over the open file was refused.
    EXPECT_EQ(reason, Reason::FileInUse);
    EXPECT_EQ(scanner.Finish(), 0u);
    EXPECT_TRUE(file.Unchanged());
}

TEST(ChangePinWindows, AReadOnlyFileIsRefused) {
    const ChosenFile file("modern.p12");
    ASSERT_TRUE(SetFileAttributesA(file.path.c_str(), FILE_ATTRIBUTE_READONLY));
    Reason reason = Reason::None;
    EXPECT_EQ(file.Change(kPin, kNewPin, reason), Outcome::CannotSave);
    EXPECT_EQ(reason, Reason::NoWritePermission);
    SetFileAttributesA(file.path.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_TRUE(file.Unchanged());
}

TEST(ChangePinWindows, AFileNamedWithUmlautsSpacesAndBeyondWindows1252Changes) {
    const ChosenFile file("ec.p12", "Zertifikat für Jürgen Ω €.p12");
    Reason reason = Reason::None;
    ASSERT_EQ(file.Change(kPin, kNewPin, reason), Outcome::PinChanged);
    EXPECT_EQ(DescribePfx(ReadAll(file.path), kNewPin), DescribePfx(file.original, kPin));
    EXPECT_EQ(file.dir.List(), std::vector<std::string>{"Zertifikat für Jürgen Ω €.p12"});
}

// The threads a change derives on carry the DACL that shuts the user's other processes out
// (tests/platform/process_api_win_test.cpp reads what it grants), looked at as each ends its work.
std::atomic<int> g_threadsOpen{0}, g_threadsShut{0};

// Shut: no entry of the thread's DACL but SYSTEM's lets anyone read its registers.
void LookAtThisThread() {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PACL dacl = nullptr;
    bool shut = GetSecurityInfo(GetCurrentThread(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION,
                                nullptr, nullptr, &dacl, nullptr, &descriptor) == ERROR_SUCCESS &&
                dacl != nullptr;
    for (DWORD i = 0; shut && i < dacl->AceCount; ++i) {
        void* entry = nullptr;
        shut = GetAce(dacl, i, &entry) != FALSE;
        const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
        shut = shut && (allowed->Header.AceType != ACCESS_ALLOWED_ACE_TYPE ||
                        (allowed->Mask & THREAD_GET_CONTEXT) == 0 ||
                        IsWellKnownSid(const_cast<DWORD*>(&allowed->SidStart), WinLocalSystemSid));
    }
    LocalFree(descriptor);
    ++(shut ? g_threadsShut : g_threadsOpen);
}

TEST(ChangePinWindows, DerivesOnThreadsShutToOtherProcesses) {
    const engine_switches::ScopedThreadCount threads(2);
    engine_switches::SetWorkEndObserver(LookAtThisThread);
    const TempDir dir;
    testing_support::BuildManyKeys(dir / "keys.p12", kPin, 12, false);
    CByteBuffer certificate;
    const std::string path = dir / "keys.p12";
    ASSERT_EQ(OpenSoftCertificate(path.c_str(), certificate), Outcome::Accepted);
    EXPECT_EQ(ChangePin(certificate, path.c_str(), kPin.c_str(), "neu", "neu"),
              Outcome::PinChanged);
    engine_switches::SetWorkEndObserver(nullptr);
    EXPECT_GT(g_threadsShut, 0);
    EXPECT_EQ(g_threadsOpen, 0);
}

}  // namespace
