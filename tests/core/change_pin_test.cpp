#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

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
                  DescribePfx(file.original, encoded(kPin)));
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
        EXPECT_EQ(after.output, before.output);
        EXPECT_NE(OpensslInfo(file.path, kPin, legacy).status, 0);
    }
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
