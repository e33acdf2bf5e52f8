#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sstream>

#include "core/soft_certificate.h"
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
        const auto encoded = [&](const std::string& pin) {
            return name == "old-encoding.p12" ? testing_support::WidenBytes(pin) : pin;
        };
        EXPECT_EQ(DescribePfx(changed, encoded(kNewPin)),
                  testing_support::ExpectedAfterChange(DescribePfx(file.original, encoded(kPin))));
        EXPECT_EQ(file.dir.List().size(), 1u) << "a temporary file was left behind";
        // The file now refuses the old PIN, and the held bytes still are the old file.
        CByteBuffer reloaded;
        ASSERT_EQ(OpenSoftCertificate(file.path.c_str(), reloaded), Outcome::Accepted);
        EXPECT_EQ(ChangePin(reloaded, file.path.c_str(), kPin.c_str(), "x", "x"),
                  Outcome::CannotOpenWithOldPin);
        EXPECT_EQ(ReadAll(file.path), changed);
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

TEST(ChangePin, CannotSaveLeavesTheFileAsItWas) {
    // A path that vanished since it was chosen is not created anew.
    {
        const ChosenFile file("modern.p12");
        ASSERT_EQ(unlink(file.path.c_str()), 0);
        EXPECT_EQ(file.Change(kPin, kNewPin, kNewPin), Outcome::CannotSave);
        EXPECT_TRUE(file.dir.List().empty());
    }
    // A directory the user may not write to. Root may write anywhere, so the change runs in
    // a child without root's rights.
    const ChosenFile file("modern.p12");
    chmod(file.dir.path().c_str(), 0555);
    chmod(file.path.c_str(), 0644);
    const pid_t child = testing_support::StartChild([&] {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) {
            return 99;
        }
        return static_cast<int>(file.Change(kPin, kNewPin, kNewPin));
    });
    EXPECT_EQ(testing_support::WaitChild(child), static_cast<int>(Outcome::CannotSave));
    EXPECT_TRUE(file.Unchanged());
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

TEST(MessageFor, FailuresToSaveAndForeignFilesShowTheErrorIcon) {
    EXPECT_EQ(MessageFor(Outcome::NotSoftCertificate).style, MB_ICONHAND);
    EXPECT_EQ(MessageFor(Outcome::CannotSave).style, MB_ICONHAND);
    EXPECT_EQ(MessageFor(Outcome::CannotOpenWithOldPin).style, MB_OK);
    EXPECT_EQ(MessageFor(Outcome::PinChanged).style, MB_OK);
}

}  // namespace
