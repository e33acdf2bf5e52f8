#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <set>
#include <sstream>

#include "core/soft_certificate.h"
#include "pkcs12/hmac_kdf.h"
#include "pkcs12/kdf_provider.h"
#include "platform/file_api.h"
#include "tests/support/bag_builder.h"
#include "tests/support/engine_switches.h"
#include "tests/support/fixtures.h"
#include "tests/support/pfx_builder.h"
#include "tests/support/pfx_description.h"

namespace {

using testing_support::DescribePfx;
using testing_support::Fixtures;
using testing_support::kPin;
using testing_support::Quote;
using testing_support::ReadAll;
using testing_support::Run;
using testing_support::TempDir;
using testing_support::WriteAll;

const std::string kNewPin = "Schlüssel€ 2";

// A fixture copied into a directory of its own and loaded as the main window loads it.
struct ChosenFile {
    TempDir dir;
    std::string path;
    std::string original;
    CByteBuffer certificate;

    explicit ChosenFile(const std::string& name)
        : path(Fixtures::Get().CopyTo(name, dir)), original(ReadAll(path)) {
        EXPECT_EQ(OpenSoftCertificate(path.c_str(), certificate), Outcome::Accepted);
    }
    // A file made by the test itself.
    ChosenFile(const std::string& name, const std::string& bytes)
        : path(dir / name), original(bytes) {
        WriteAll(path, bytes);
        EXPECT_EQ(OpenSoftCertificate(path.c_str(), certificate), Outcome::Accepted);
    }
    Outcome Change(const std::string& oldPin, const std::string& newPin,
                   const std::string& repeat) const {
        return ChangePin(certificate, path.c_str(), oldPin.c_str(), newPin.c_str(), repeat.c_str());
    }
    bool Unchanged() const { return ReadAll(path) == original && dir.List().size() == 1; }
};

// What the system's openssl command reports of a file, keys and certificates included.
testing_support::CommandResult OpensslInfo(const std::string& path, const std::string& pin,
                                           bool legacy) {
    const TempDir dir;
    WriteAll(dir / "pin", pin);
    return Run("openssl pkcs12 -info -nodes " + std::string(legacy ? "-legacy " : "") + "-in " +
               Quote(path) + " -passin file:" + Quote(dir / "pin"));
}

// What `openssl pkcs12 -info` reports of a file after a change, from its report before: keys
// that were in clear in unencrypted parts come out shrouded, and a file with no protection at
// all gets a MAC. `iterations` is what those get.
std::string ExpectedInfoAfterChange(const std::string& before, long iterations) {
    const std::string count = std::to_string(iterations);
    const bool unprotected = before.find("Warning: MAC is absent!") != std::string::npos &&
                             before.find("Encrypted data") == std::string::npos &&
                             before.find("Shrouded Keybag") == std::string::npos;
    std::istringstream lines(before);
    std::ostringstream out;
    bool inPlainPart = false;
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("PKCS7 ", 0) == 0) {
            inPlainPart = line == "PKCS7 Data";
        }
        if (line == "Key bag" && inPlainPart) {
            line = "Shrouded Keybag: PBES2, PBKDF2, AES-256-CBC, Iteration " + count +
                   ", PRF hmacWithSHA256";
        } else if (line == "Warning: MAC is absent!" && unprotected) {
            line = "MAC: sha256, Iteration " + count + "\nMAC length: 32, salt length: 8";
        } else if (line == "Warning: using broken algorithm") {
            continue;  // the older password encoding becomes the standard one
        }
        out << line << "\n";
    }
    return out.str();
}

// A file the openssl command writes from the fixtures' leaf key and certificate.
std::string ExportWithOpenssl(const std::string& options) {
    const TempDir dir;
    const std::string path = dir / "made.p12";
    const auto made =
        Run("openssl pkcs12 -export -inkey " + Quote(Fixtures::Get().Path("leaf.key")) + " -in " +
            Quote(Fixtures::Get().Path("leaf.pem")) + " -passout file:" +
            Quote(Fixtures::Get().Path("pin.txt")) + " -out " + Quote(path) + " " + options);
    EXPECT_EQ(made.status, 0) << made.output;
    return ReadAll(path);
}

TEST(ChangePin, ChecksTheEntriesFirstAndInOrder) {
    const ChosenFile file("modern.p12");
    struct Case {
        const char *oldPin, *newPin, *repeat;
        Outcome outcome;
    };
    const Case cases[] = {
        {"", "", "", Outcome::OldPinMissing},
        {"", "neu", "neu", Outcome::OldPinMissing},
        {"alt", "", "", Outcome::NewPinMissing},
        {"alt", "", "neu", Outcome::NewPinMissing},
        {"alt", "neu", "", Outcome::RepeatMissing},
        {"alt", "neu", "Neu", Outcome::RepeatDiffers},
        {"alt", "neu", "neu ", Outcome::RepeatDiffers},
        {"alt", "neu", "neu", Outcome::CannotOpenWithOldPin},
        {" Grüße€", "neu", "neu", Outcome::CannotOpenWithOldPin},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(file.Change(c.oldPin, c.newPin, c.repeat), c.outcome)
            << c.oldPin << "/" << c.newPin << "/" << c.repeat;
    }
    EXPECT_TRUE(file.Unchanged());
    const CByteBuffer none;
    EXPECT_EQ(ChangePin(none, file.path.c_str(), kPin.c_str(), "neu", "neu"),
              Outcome::CannotOpenWithOldPin);
    EXPECT_TRUE(file.Unchanged());
}

TEST(ChangePin, FileOpensWithTheNewPinOnlyAndHoldsTheSameContents) {
    for (const std::string& name : Fixtures::Pkcs12Names()) {
        SCOPED_TRACE(name);
        const ChosenFile file(name);
        ASSERT_EQ(file.Change(kPin, kNewPin, kNewPin), Outcome::PinChanged);
        const std::string changed = ReadAll(file.path);
        // A file in the older password encoding comes out in the standard one.
        const std::string oldPin =
            name == "old-encoding.p12" ? testing_support::WidenBytes(kPin) : kPin;
        EXPECT_EQ(DescribePfx(changed, kNewPin),
                  testing_support::ExpectedAfterChange(DescribePfx(file.original, oldPin)));
        EXPECT_EQ(file.dir.List().size(), 1u) << "a temporary file was left behind";
        // The file now refuses the old PIN, and the held bytes still are the old file.
        CByteBuffer reloaded;
        ASSERT_EQ(OpenSoftCertificate(file.path.c_str(), reloaded), Outcome::Accepted);
        EXPECT_EQ(ChangePin(reloaded, file.path.c_str(), kPin.c_str(), "x", "x"),
                  Outcome::CannotOpenWithOldPin);
        EXPECT_EQ(ReadAll(file.path), changed);
    }
}

// Every salt and IV of a changed file is new: none the original had, none twice in the file,
// none another change of the same file chose.
TEST(ChangePin, GivesEverySaltAndIvAnew) {
    ASSERT_TRUE(testing_support::LoadLegacyProviders());  // to decrypt the legacy parts
    for (const std::string& name : Fixtures::Pkcs12Names()) {
        SCOPED_TRACE(name);
        const ChosenFile first(name), second(name);
        ASSERT_EQ(first.Change(kPin, kNewPin, kNewPin), Outcome::PinChanged);
        ASSERT_EQ(second.Change(kPin, kNewPin, kNewPin), Outcome::PinChanged);
        const std::string oldPin =
            name == "old-encoding.p12" ? testing_support::WidenBytes(kPin) : kPin;
        const std::vector<std::string> original =
            testing_support::SaltsAndIvs(first.original, oldPin);
        std::vector<std::string> changed =
            testing_support::SaltsAndIvs(ReadAll(first.path), kNewPin);
        const std::vector<std::string> again =
            testing_support::SaltsAndIvs(ReadAll(second.path), kNewPin);
        // As many as before, and more where keys in clear came out encrypted.
        ASSERT_FALSE(original.empty());
        EXPECT_GE(changed.size(), original.size());
        EXPECT_EQ(changed.size(), again.size());
        changed.insert(changed.end(), again.begin(), again.end());
        const std::set<std::string> old(original.begin(), original.end());
        std::set<std::string> seen;
        for (const std::string& value : changed) {
            EXPECT_FALSE(old.contains(value)) << "a salt or IV kept from the original";
            EXPECT_TRUE(seen.insert(value).second) << "a salt or IV used twice";
        }
    }
}

// The check of the written file derives with OpenSSL's own code, not with the faster code that
// wrote it: a fault there (here, one the tests put in for passwords of more than 64 bytes)
// cannot pass its own check, and the file stays as it was.
TEST(ChangePin, AFaultInTheFastDerivationsDoesNotPassTheCheck) {
    const std::string longPin(70, 'P');
    for (const std::string name : {"modern.p12", "legacy.p12"}) {
        SCOPED_TRACE(name);
        const ChosenFile file(name);
        {
            const engine_switches::ScopedLongPasswordFault fault;
            const std::size_t direct = engine_switches::DerivedDirectly();
            EXPECT_EQ(file.Change(kPin, longPin, longPin), Outcome::CannotSave);
            ASSERT_GT(engine_switches::DerivedDirectly(), direct) << "the fault was not met";
            EXPECT_TRUE(file.Unchanged());
        }
        ASSERT_EQ(file.Change(kPin, longPin, longPin), Outcome::PinChanged);
        EXPECT_EQ(DescribePfx(ReadAll(file.path), longPin),
                  testing_support::ExpectedAfterChange(DescribePfx(file.original, kPin)));
    }
}

TEST(ChangePin, SystemOpensslReadsTheResultAsItReadTheOriginal) {
    for (const std::string& name : Fixtures::Pkcs12Names()) {
        SCOPED_TRACE(name);
        const bool legacy = !Fixtures::IsModern(name);
        const ChosenFile file(name);
        const auto before = OpensslInfo(file.path, kPin, legacy);
        ASSERT_EQ(before.status, 0) << before.output;
        ASSERT_EQ(file.Change(kPin, kNewPin, kNewPin), Outcome::PinChanged);
        const auto after = OpensslInfo(file.path, kNewPin, legacy);
        EXPECT_EQ(after.status, 0) << after.output;
        const long iterations = testing_support::IterationsForKeysInClear(DescribePfx(
            file.original, name == "old-encoding.p12" ? testing_support::WidenBytes(kPin) : kPin));
        EXPECT_EQ(after.output, ExpectedInfoAfterChange(before.output, iterations));
        EXPECT_NE(OpensslInfo(file.path, kPin, legacy).status, 0);
    }
}

TEST(ChangePin, KeysInClearComeOutEncryptedUnderTheNewPin) {
    const ChosenFile file("plain-key.p12",
                          ExportWithOpenssl("-keypbe NONE -iter 3000 -name Klartextschlüssel"));
    const auto before = OpensslInfo(file.path, kPin, false);
    ASSERT_EQ(before.status, 0) << before.output;
    ASSERT_NE(before.output.find("\nKey bag\n"), std::string::npos) << before.output;

    ASSERT_EQ(file.Change(kPin, kNewPin, kNewPin), Outcome::PinChanged);
    const auto after = OpensslInfo(file.path, kNewPin, false);
    ASSERT_EQ(after.status, 0) << after.output;
    EXPECT_EQ(after.output.find("\nKey bag\n"), std::string::npos);
    EXPECT_NE(after.output.find("Shrouded Keybag: PBES2, PBKDF2, AES-256-CBC, Iteration 3000, "
                                "PRF hmacWithSHA256\n"),
              std::string::npos)
        << after.output;
    // The same attributes and the same key; only the key's protection differs.
    EXPECT_EQ(after.output, ExpectedInfoAfterChange(before.output, 3000));
    EXPECT_NE(DescribePfx(ReadAll(file.path), kNewPin)
                  .find("protected PBES2 PBKDF2 hmacWithSHA256 AES-256-CBC iterations 3000 salt 8"),
              std::string::npos);
    EXPECT_NE(OpensslInfo(file.path, kPin, false).status, 0);
}

TEST(ChangePin, UnprotectedFilesComeOutWithAMacAndEncryptedKeys) {
    const ChosenFile file("unprotected.p12",
                          ExportWithOpenssl("-keypbe NONE -certpbe NONE -nomac -name Offen"));
    const auto before = OpensslInfo(file.path, "beliebig", false);
    ASSERT_EQ(before.status, 0) << before.output;
    // Nothing checks the old PIN of such a file, so any opens it.
    ASSERT_EQ(file.Change("beliebig", kNewPin, kNewPin), Outcome::PinChanged);
    const auto after = OpensslInfo(file.path, kNewPin, false);
    ASSERT_EQ(after.status, 0) << after.output;
    EXPECT_NE(after.output.find("MAC: sha256, Iteration 2048\nMAC length: 32, salt length: 8\n"),
              std::string::npos)
        << after.output;
    EXPECT_NE(after.output.find("Shrouded Keybag: PBES2, PBKDF2, AES-256-CBC, Iteration 2048, "
                                "PRF hmacWithSHA256\n"),
              std::string::npos)
        << after.output;
    EXPECT_EQ(after.output, ExpectedInfoAfterChange(before.output, 2048));
    EXPECT_NE(OpensslInfo(file.path, "beliebig", false).status, 0);
    EXPECT_NE(OpensslInfo(file.path, kPin, false).status, 0);
    // From now on the file is protected: only the new PIN opens it for another change.
    CByteBuffer changed;
    ASSERT_EQ(OpenSoftCertificate(file.path.c_str(), changed), Outcome::Accepted);
    EXPECT_EQ(ChangePin(changed, file.path.c_str(), "beliebig", "x", "x"),
              Outcome::CannotOpenWithOldPin);
    EXPECT_EQ(ChangePin(changed, file.path.c_str(), kNewPin.c_str(), "x", "x"),
              Outcome::PinChanged);
}

TEST(ChangePin, HeavyButOrdinaryFilesStillChange) {
    const ChosenFile file("heavy.p12", ExportWithOpenssl("-iter 600000 -macalg sha512"));
    const std::string before = DescribePfx(file.original, kPin);
    ASSERT_NE(before.find("mac SHA512 iterations 600000"), std::string::npos) << before;
    ASSERT_NE(before.find("hmacWithSHA256 AES-256-CBC iterations 600000"), std::string::npos);
    ASSERT_EQ(file.Change(kPin, kNewPin, kNewPin), Outcome::PinChanged);
    EXPECT_EQ(DescribePfx(ReadAll(file.path), kNewPin), before);
}

TEST(PrepareChangePin, SetsUpOpensslAndAnyChangeStillWorks) {
    EXPECT_TRUE(PrepareChangePin());
    EXPECT_TRUE(PrepareChangePin());
    const ChosenFile file("legacy.p12");
    EXPECT_EQ(file.Change(kPin, kNewPin, kNewPin), Outcome::PinChanged);
}

TEST(ChangePin, PinsAreTakenExactlyAsTyped) {
    const ChosenFile file("modern.p12");
    ASSERT_EQ(file.Change(kPin, " neue PIN ", " neue PIN "), Outcome::PinChanged);
    EXPECT_EQ(OpensslInfo(file.path, " neue PIN ", false).status, 0);
    EXPECT_NE(OpensslInfo(file.path, "neue PIN", false).status, 0);
}

TEST(ChangePin, SamePinStillRewritesTheFile) {
    const ChosenFile file("legacy.p12");
    ASSERT_EQ(file.Change(kPin, kPin, kPin), Outcome::PinChanged);
    const std::string changed = ReadAll(file.path);
    EXPECT_NE(changed, file.original);  // fresh salts
    EXPECT_EQ(DescribePfx(changed, kPin), DescribePfx(file.original, kPin));
}

TEST(ChangePin, FailedAttemptsKeepTheHeldBytesForTheNextTry) {
    const ChosenFile file("modern.p12");
    const std::string held(reinterpret_cast<const char*>(file.certificate.data()),
                           file.certificate.length());
    EXPECT_EQ(file.Change("falsch", kNewPin, kNewPin), Outcome::CannotOpenWithOldPin);
    EXPECT_EQ(file.Change(kPin, kNewPin, "anders"), Outcome::RepeatDiffers);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(file.certificate.data()),
                          file.certificate.length()),
              held);
    EXPECT_TRUE(file.Unchanged());
    EXPECT_EQ(file.Change(kPin, kNewPin, kNewPin), Outcome::PinChanged);
}

// How a change ended, as one number, so that it can come back as a child's exit status.
int Ended(Outcome outcome, Reason reason) {
    return static_cast<int>(outcome) * 16 + static_cast<int>(reason);
}

int ChangeAndSay(const ChosenFile& file) {
    Reason reason = Reason::None;
    const Outcome outcome = ChangePin(file.certificate, file.path.c_str(), kPin.c_str(),
                                      kNewPin.c_str(), kNewPin.c_str(), reason);
    return Ended(outcome, reason);
}

TEST(ChangePin, ProtectionItCannotRenewIsRefusedAndSaidSo) {
    using namespace testing_support;
    // A value under a password-based scheme the tool does not know how to write back: after a
    // change it would still open with the old PIN.
    const Der sealed = Sealed(Sequence({Element(0x04, "x")}), kPin);
    const Der foreign = SecretBag(
        "1.3.6.1.4.1.99999.7",
        Sequence({Element(0x02, "\x01"), ChildrenOf(sealed)[0], Element(0x04, "verschluesselt")}));
    const ChosenFile file("foreign.p12", Pfx({{{foreign}, true}}, kPin));
    EXPECT_EQ(ChangeAndSay(file), Ended(Outcome::CannotSave, Reason::ProtectionNotRenewable));
    EXPECT_TRUE(file.Unchanged());
    EXPECT_EQ(file.Change("falsch", kNewPin, kNewPin), Outcome::CannotOpenWithOldPin);
    EXPECT_NE(MessageFor(Outcome::CannotSave, Reason::ProtectionNotRenewable)
                  .text.find("nicht unter der neuen PIN"),
              std::string::npos);
}

TEST(ChangePin, AFailedSaveSaysWhyAndLeavesTheFileAsItWas) {
    using testing_support::RunAsUser;
    const int cannotSave = Ended(Outcome::CannotSave, Reason::None);
    {
        SCOPED_TRACE("a directory the user may not write to");
        const ChosenFile file("modern.p12");
        chmod(file.dir.path().c_str(), 0755);
        chmod(file.path.c_str(), 0666);
        EXPECT_EQ(RunAsUser([&] { return ChangeAndSay(file); }),
                  cannotSave + static_cast<int>(Reason::DirectoryNotWritable));
        EXPECT_TRUE(file.Unchanged());
    }
    {
        SCOPED_TRACE("made read-only");
        const ChosenFile file("modern.p12");
        chmod(file.path.c_str(), 0444);
        EXPECT_EQ(ChangeAndSay(file), cannotSave + static_cast<int>(Reason::NoWritePermission));
        EXPECT_TRUE(file.Unchanged());
    }
    {
        SCOPED_TRACE("held by another program");
        const ChosenFile file("modern.p12");
        const HANDLE other =
            CreateFileA(file.path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(other, INVALID_HANDLE_VALUE);
        EXPECT_EQ(ChangeAndSay(file), cannotSave + static_cast<int>(Reason::FileInUse));
        CloseHandle(other);
        EXPECT_TRUE(file.Unchanged());
    }
    {
        SCOPED_TRACE("a second name");
        const ChosenFile file("modern.p12");
        ASSERT_EQ(link(file.path.c_str(), (file.dir / "Kopie.p12").c_str()), 0);
        EXPECT_EQ(ChangeAndSay(file), cannotSave + static_cast<int>(Reason::OtherLinks));
        EXPECT_EQ(ReadAll(file.path), file.original);
    }
    {
        SCOPED_TRACE("gone since it was chosen: not created anew");
        const ChosenFile file("modern.p12");
        ASSERT_EQ(unlink(file.path.c_str()), 0);
        EXPECT_EQ(ChangeAndSay(file), Ended(Outcome::FileGone, Reason::None));
        EXPECT_TRUE(file.dir.List().empty());
    }
    if (geteuid() == 0) {
        SCOPED_TRACE("another user's file the user's group may write");
        const ChosenFile file("modern.p12");
        chmod(file.dir.path().c_str(), 0777);
        ASSERT_EQ(chown(file.path.c_str(), 12345, 65534), 0);
        chmod(file.path.c_str(), 0660);
        EXPECT_EQ(RunAsUser([&] { return ChangeAndSay(file); }),
                  cannotSave + static_cast<int>(Reason::OwnerNotKept));
        EXPECT_TRUE(file.Unchanged());
        struct stat info {};
        stat(file.path.c_str(), &info);
        EXPECT_EQ(info.st_uid, 12345u);
    }
}

// In a child with a mount namespace of its own: the file on a small file system that is then
// filled up, or made read-only. 77 when file systems cannot be mounted here.
int ChangeOnAFullOrReadOnlyFileSystem(const ChosenFile& file, bool readOnly) {
    const std::string mountPoint = file.dir / "klein";
    if (unshare(CLONE_NEWNS) != 0 ||
        mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        (mkdir(mountPoint.c_str(), 0700) != 0 && errno != EEXIST) ||
        mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=64k") != 0) {
        return 77;
    }
    ChosenFile onIt("modern.p12");
    const std::string path = mountPoint + "/cert.p12";
    WriteAll(path, onIt.original);
    if (readOnly) {
        if (mount(nullptr, mountPoint.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0) {
            return 77;
        }
    } else {
        const int filler = open((mountPoint + "/Füllung").c_str(), O_WRONLY | O_CREAT, 0600);
        const std::string block(512, 'x');
        while (write(filler, block.data(), block.size()) > 0) {
        }
        close(filler);
    }
    Reason reason = Reason::None;
    const Outcome outcome = ChangePin(onIt.certificate, path.c_str(), kPin.c_str(), kNewPin.c_str(),
                                      kNewPin.c_str(), reason);
    if (ReadAll(path) != onIt.original) {
        return 78;
    }
    return Ended(outcome, reason);
}

TEST(ChangePin, AFullOrReadOnlyFileSystemIsSaidSo) {
    const ChosenFile file("modern.p12");
    for (const bool readOnly : {false, true}) {
        const int ended = testing_support::WaitChild(testing_support::StartChild(
            [&] { return ChangeOnAFullOrReadOnlyFileSystem(file, readOnly); }));
        if (ended == 77) {
            GTEST_SKIP() << "no file system can be mounted here";
        }
        EXPECT_EQ(ended, Ended(Outcome::CannotSave,
                               readOnly ? Reason::NoWritePermission : Reason::DiskFull))
            << (readOnly ? "read-only" : "full");
    }
}

TEST(ChangePin, AFileChangedSinceItWasOpenedIsNotOverwritten) {
    // Two windows on one file: the second starts from bytes that are no longer on disk.
    const ChosenFile first("modern.p12");
    CByteBuffer second;
    ASSERT_EQ(OpenSoftCertificate(first.path.c_str(), second), Outcome::Accepted);
    ASSERT_EQ(first.Change(kPin, kNewPin, kNewPin), Outcome::PinChanged);
    const std::string changed = ReadAll(first.path);
    Reason reason = Reason::None;
    EXPECT_EQ(ChangePin(second, first.path.c_str(), kPin.c_str(), "zweite", "zweite", reason),
              Outcome::FileChanged);
    EXPECT_EQ(ReadAll(first.path), changed);
    EXPECT_EQ(first.dir.List().size(), 1u);
    // Another program put a renewed file in its place.
    const std::string renewed = Fixtures::Get().Bytes("legacy.p12");
    WriteAll(first.dir / "neu", renewed);
    ASSERT_EQ(rename((first.dir / "neu").c_str(), first.path.c_str()), 0);
    EXPECT_EQ(ChangePin(first.certificate, first.path.c_str(), kPin.c_str(), "dritte", "dritte"),
              Outcome::FileChanged);
    EXPECT_EQ(ReadAll(first.path), renewed);
}

TEST(ChangePin, OfTwoConcurrentChangesAtMostOneSucceedsAndItsPinOpensTheFile) {
    for (int round = 0; round < 20; ++round) {
        const ChosenFile file("modern.p12");
        const std::string pins[2] = {"erste PIN", "zweite PIN"};
        pid_t children[2];
        for (int i = 0; i < 2; ++i) {
            children[i] = testing_support::StartChild(
                [&, i] { return static_cast<int>(file.Change(kPin, pins[i], pins[i])); });
        }
        int succeeded = 0;
        std::string winner;
        for (int i = 0; i < 2; ++i) {
            const int status = testing_support::WaitChild(children[i]);
            if (status == static_cast<int>(Outcome::PinChanged)) {
                ++succeeded;
                winner = pins[i];
            } else {
                EXPECT_TRUE(status == static_cast<int>(Outcome::CannotSave) ||
                            status == static_cast<int>(Outcome::FileChanged))
                    << status;
            }
        }
        ASSERT_LE(succeeded, 1) << "round " << round;
        CByteBuffer now;
        ASSERT_EQ(OpenSoftCertificate(file.path.c_str(), now), Outcome::Accepted);
        const std::string opens = succeeded == 1 ? winner : kPin;
        EXPECT_EQ(ChangePin(now, file.path.c_str(), opens.c_str(), opens.c_str(), opens.c_str()),
                  Outcome::PinChanged)
            << "round " << round;
    }
}

TEST(OpenSoftCertificate, AcceptsOnlyPkcs12AndForgetsTheFormerChoice) {
    const TempDir dir;
    WriteAll(dir / "empty.p12", "");
    WriteAll(dir / "text.p12", "kein Zertifikat");
    const std::string valid = Fixtures::Get().CopyTo("legacy.p12", dir);
    for (const std::string& rejected : {dir / "empty.p12", dir / "text.p12", dir / "missing.p12",
                                        dir.path(), Fixtures::Get().Path("leaf.pem")}) {
        CByteBuffer certificate;
        ASSERT_EQ(OpenSoftCertificate(valid.c_str(), certificate), Outcome::Accepted);
        EXPECT_EQ(certificate.length(), ReadAll(valid).size());
        EXPECT_EQ(OpenSoftCertificate(rejected.c_str(), certificate), Outcome::NotSoftCertificate)
            << rejected;
        EXPECT_EQ(certificate.data(), nullptr) << rejected;
        EXPECT_EQ(certificate.length(), 0u);
    }
}

TEST(OpenSoftCertificate, SaysWhenTheFileIsInUseOrTooLarge) {
    const TempDir dir;
    const std::string path = Fixtures::Get().CopyTo("modern.p12", dir);
    CByteBuffer certificate;
    Reason reason = Reason::None;
    {
        const HANDLE writer =
            CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(writer, INVALID_HANDLE_VALUE);
        EXPECT_EQ(OpenSoftCertificate(path.c_str(), certificate, reason), Outcome::FileInUse);
        EXPECT_EQ(certificate.data(), nullptr);
        CloseHandle(writer);
    }
    EXPECT_EQ(OpenSoftCertificate(path.c_str(), certificate, reason), Outcome::Accepted);
    // A valid file followed by more than the tool accepts.
    WriteAll(path, ReadAll(path) + std::string(kMaxPfxBytes, '\0'));
    EXPECT_EQ(OpenSoftCertificate(path.c_str(), certificate, reason), Outcome::BeyondLimits);
    EXPECT_EQ(reason, Reason::FileTooLarge);
    EXPECT_EQ(certificate.data(), nullptr);
}

TEST(MessageFor, EachReasonIsASecondLineOfItsOwn) {
    const std::string first = MessageFor(Outcome::CannotSave).text;
    std::set<std::string> lines;
    constexpr Reason kLast = Reason::EncryptionNotKept;
    for (int r = static_cast<int>(Reason::FileInUse); r <= static_cast<int>(kLast); ++r) {
        const DetailedMessage message = MessageFor(Outcome::CannotSave, static_cast<Reason>(r));
        ASSERT_EQ(message.text.rfind(first + "\n", 0), 0u) << r;
        const std::string line = message.text.substr(first.size() + 1);
        EXPECT_FALSE(line.empty()) << r;
        EXPECT_EQ(line.find('\n'), std::string::npos) << r;
        lines.insert(line);
        EXPECT_EQ(message.style, MB_ICONHAND);
    }
    EXPECT_EQ(lines.size(), static_cast<size_t>(kLast));  // all different
    EXPECT_EQ(MessageFor(Outcome::CannotSave, Reason::None).text, first);
    EXPECT_EQ(MessageFor(Outcome::BeyondLimits, Reason::TooManyBags).text,
              std::string(MessageFor(Outcome::BeyondLimits).text) +
                  "\nDie Datei enthält mehr als 100.000 Einträge.");
    // A file that is gone is not "unverändert"; one changed meanwhile must be opened again.
    EXPECT_EQ(std::string(MessageFor(Outcome::FileGone).text).find("unverändert"),
              std::string::npos);
    EXPECT_NE(std::string(MessageFor(Outcome::FileChanged).text).find("neu eingelesen"),
              std::string::npos);
    // The tool's own seven texts stay as they are.
    EXPECT_STREQ(MessageFor(Outcome::PinChanged).text, "Die PIN wurde geändert.");
    EXPECT_EQ(MessageFor(Outcome::PinChanged, Reason::None).text, "Die PIN wurde geändert.");
}

// Other programs pass outcomes and reasons by their numbers: a new one in between would change
// what those programs' numbers mean.
TEST(MessageFor, OutcomesAndReasonsKeepTheirNumbers) {
    EXPECT_EQ(static_cast<int>(Outcome::PinChanged), 8);
    EXPECT_EQ(static_cast<int>(Outcome::BeyondLimits), 12);
    EXPECT_EQ(static_cast<int>(Reason::AttributesNotKept), 6);
    EXPECT_EQ(static_cast<int>(Reason::OtherLinks), 7);
    EXPECT_EQ(static_cast<int>(Reason::ScryptMemory), 11);
    EXPECT_EQ(static_cast<int>(Reason::ProtectionNotRenewable), 12);
    EXPECT_EQ(static_cast<int>(Reason::NoWorkerThread), 13);
}

TEST(MessageFor, FailuresToSaveAndForeignFilesShowTheErrorIcon) {
    EXPECT_EQ(MessageFor(Outcome::NotSoftCertificate).style, MB_ICONHAND);
    EXPECT_EQ(MessageFor(Outcome::CannotSave).style, MB_ICONHAND);
    EXPECT_EQ(MessageFor(Outcome::CannotOpenWithOldPin).style, MB_OK);
    EXPECT_EQ(MessageFor(Outcome::PinChanged).style, MB_OK);
}

}  // namespace
