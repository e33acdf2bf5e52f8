#include <gtest/gtest.h>
#include <openssl/objects.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "pkcs12/crypt32.h"
#include "pkcs12/hmac_kdf.h"
#include "pkcs12/kdf_provider.h"
#include "pkcs12/openssl_context.h"
#include "pkcs12/parallel.h"
#include "pkcs12/pbe_params.h"
#include "platform/file_api.h"
#include "tests/support/engine_switches.h"
#include "tests/support/fixtures.h"
#include "tests/support/pfx_builder.h"
#include "tests/support/pfx_description.h"
#include "tests/support/wide_text.h"

namespace {

using testing_support::DescribePfx;
using testing_support::Fixtures;
using testing_support::kPin;
using testing_support::WideString;
using testing_support::WideText;

using Store = UniqueCertStore;

CRYPT_DATA_BLOB BlobOf(std::string& bytes) {
    return {static_cast<DWORD>(bytes.size()), reinterpret_cast<BYTE*>(bytes.data())};
}

Store Import(std::string bytes, const WideString& password, DWORD flags = CRYPT_EXPORTABLE) {
    CRYPT_DATA_BLOB blob = BlobOf(bytes);
    return Store(PFXImportCertStore(&blob, password.c_str(), flags));
}

// Both calls of the Windows protocol: the size, then the bytes.
std::string Export(HCERTSTORE store, const WideString& password) {
    CRYPT_DATA_BLOB blob{0, nullptr};
    if (!PFXExportCertStoreEx(store, &blob, password.c_str(), nullptr, EXPORT_PRIVATE_KEYS)) {
        return "";
    }
    std::string bytes(blob.cbData, '\0');
    blob.pbData = reinterpret_cast<BYTE*>(bytes.data());
    if (!PFXExportCertStoreEx(store, &blob, password.c_str(), nullptr, EXPORT_PRIVATE_KEYS)) {
        return "";
    }
    bytes.resize(blob.cbData);
    return bytes;
}

BOOL IsPfx(std::string bytes) {
    CRYPT_DATA_BLOB blob = BlobOf(bytes);
    return PFXIsPFXBlob(&blob);
}

const WideString kWidePin = WideText(u"Grüße€");
const WideString kNewPin = WideText(u"Neue PIN 2026 ß");
const std::string kNewPinUtf8 = "Neue PIN 2026 ß";

TEST(PFXIsPFXBlob, RecognisesExactlyAWholePfx) {
    const std::string modern = Fixtures::Get().Bytes("modern.p12");
    EXPECT_TRUE(IsPfx(modern));
    EXPECT_FALSE(IsPfx(""));
    EXPECT_FALSE(IsPfx(modern.substr(0, modern.size() - 1)));
    EXPECT_FALSE(IsPfx(modern.substr(0, 40)));
    EXPECT_FALSE(IsPfx(modern + "trailing garbage"));
    EXPECT_FALSE(IsPfx(Fixtures::Get().Bytes("leaf.pem")));
    CRYPT_DATA_BLOB none{0, nullptr};
    EXPECT_FALSE(PFXIsPFXBlob(&none));
    EXPECT_FALSE(PFXIsPFXBlob(nullptr));
}

TEST(PFXImportCertStore, OpensOnlyWithTheRightPassword) {
    for (const std::string& name : Fixtures::Pkcs12Names()) {
        const std::string bytes = Fixtures::Get().Bytes(name);
        EXPECT_TRUE(Import(bytes, kWidePin)) << name;
        EXPECT_FALSE(Import(bytes, WideText(u"Grüsse€"))) << name;
        EXPECT_FALSE(Import(bytes, WideText(u"grüße€"))) << name;
    }
}

TEST(PFXImportCertStore, RefusesDamagedFiles) {
    const std::string modern = Fixtures::Get().Bytes("modern.p12");
    for (size_t at = 0; at < modern.size(); at += 97) {
        std::string damaged = modern;
        damaged[at] = static_cast<char>(damaged[at] ^ 0x10);
        EXPECT_FALSE(Import(damaged, kWidePin)) << "bit flipped at " << at;
    }
    EXPECT_FALSE(Import(modern + std::string(1, '\0'), kWidePin));
    EXPECT_FALSE(Import("", kWidePin));
}

TEST(PFXImportCertStore, RefusesFilesThatAskForTooManyIterations) {
    using testing_support::BuildIterationBomb;
    const char* const why[] = {"MAC", "part", "key", "total"};
    const std::string bombs[] = {
        BuildIterationBomb(2'000'000'000, 2048, 1, 0), BuildIterationBomb(0, 5'000'001, 1, 0),
        BuildIterationBomb(0, 2048, 1, 2'000'000'000),
        BuildIterationBomb(4'000'000, 4'000'000, 5, 0),  // 24,000,000 in all
    };
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(IsPfx(bombs[i])) << why[i];
        SetLastError(0);
        EXPECT_FALSE(Import(bombs[i], kWidePin)) << why[i];
        EXPECT_EQ(GetLastError(), PINTOOL_E_TOO_MUCH_WORK) << why[i];
    }
    // Within the limits the derivations do run, and fail on the random data.
    EXPECT_FALSE(Import(BuildIterationBomb(0, 2048, 1, 0), kWidePin));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PASSWORD);
}

// Refused with `error`, and at once: the derivations asked for would take seconds.
void ExpectRefused(const std::string& bytes, DWORD error, const char* why) {
    ASSERT_TRUE(IsPfx(bytes)) << why;
    SetLastError(0);
    EXPECT_FALSE(Import(bytes, kWidePin)) << why;
    EXPECT_EQ(GetLastError(), error) << why;
}

TEST(PFXImportCertStore, CountsTheBlocksEachDerivationMakes) {
    using testing_support::BuildIterationBomb;
    using testing_support::BuildPbkdf2Bomb;
    // Declared 20 million in all, but HMAC-SHA1 needs two blocks for an AES-256 key.
    ExpectRefused(BuildPbkdf2Bomb(4, 4'999'999, NID_hmacWithSHA1, NID_aes_256_cbc),
                  PINTOOL_E_TOO_MUCH_WORK, "PBKDF2");
    // The PKCS#12 scheme derives a 3DES key in two blocks and its IV in a third.
    ExpectRefused(BuildIterationBomb(0, 1'700'000, 2, 0), PINTOOL_E_TOO_MUCH_WORK, "3DES");
    ExpectRefused(BuildPbkdf2Bomb(1, 5'000'001, NID_hmacWithSHA512, NID_aes_128_cbc),
                  PINTOOL_E_TOO_MUCH_WORK, "one derivation");
}

TEST(PFXImportCertStore, RefusesScryptBeyondTheMemoryOpenSslAllows) {
    using testing_support::BuildScryptBomb;
    ExpectRefused(BuildScryptBomb(1u << 20, 8, 1), PINTOOL_E_SCRYPT_MEMORY, "N 2^20");
    // 128 * 8 * (2^15 + 2) + 128 * 8 bytes: just beyond 32 MiB.
    ExpectRefused(BuildScryptBomb(1u << 15, 8, 1), PINTOOL_E_SCRYPT_MEMORY, "N 2^15");
    ExpectRefused(BuildScryptBomb(2, 1, 1u << 20), PINTOOL_E_SCRYPT_MEMORY, "p 2^20");
    // Within the limit the derivation runs, and fails on the random data.
    ExpectRefused(BuildScryptBomb(1u << 14, 8, 1), ERROR_INVALID_PASSWORD, "N 2^14");
}

TEST(PFXImportCertStore, RefusesFilesWithTooManyBags) {
    using testing_support::BuildManyBags;
    ExpectRefused(BuildManyBags(200'000, 0, kPin), PINTOOL_E_TOO_MANY_BAGS, "plain");
    // Counted again once the encrypted part is open.
    ExpectRefused(BuildManyBags(kMaxBags / 2 + 1, kMaxBags / 2, kPin), PINTOOL_E_TOO_MANY_BAGS,
                  "encrypted");
    EXPECT_TRUE(Import(BuildManyBags(kMaxBags / 2, kMaxBags / 2, kPin), kWidePin));
    EXPECT_TRUE(Import(BuildManyBags(kMaxBags, 0, kPin), kWidePin));
}

TEST(PFXImportCertStore, RefusesBlobsBeyondTheSizeLimit) {
    using testing_support::BuildLargeSecret;
    std::string large = BuildLargeSecret(kMaxPfxBytes);
    ASSERT_GT(large.size(), kMaxPfxBytes);
    EXPECT_FALSE(IsPfx(large));
    CRYPT_DATA_BLOB blob = BlobOf(large);
    SetLastError(0);
    EXPECT_FALSE(Store(PFXImportCertStore(&blob, kWidePin.c_str(), CRYPT_EXPORTABLE)));
    EXPECT_EQ(GetLastError(), PINTOOL_E_FILE_TOO_LARGE);
    const std::string fits = BuildLargeSecret(kMaxPfxBytes - 1000);
    ASSERT_LE(fits.size(), kMaxPfxBytes);
    EXPECT_TRUE(IsPfx(fits));
    EXPECT_TRUE(Import(fits, kWidePin));
}

TEST(PFXImportCertStore, OpensFilesWrittenWithTheOlderPasswordEncoding) {
    const std::string bytes = Fixtures::Get().Bytes("old-encoding.p12");
    ASSERT_EQ(DescribePfx(bytes, kPin).find("WRONG") != std::string::npos, true)
        << "the fixture must not open with the modern encoding";
    EXPECT_TRUE(Import(bytes, kWidePin));
}

TEST(PFXExportCertStoreEx, KeepsEveryBagAttributeAndProtectionUnderTheNewPassword) {
    for (const std::string& name : Fixtures::Pkcs12Names()) {
        const std::string original = Fixtures::Get().Bytes(name);
        const Store store = Import(original, kWidePin);
        ASSERT_TRUE(store) << name;
        const std::string exported = Export(store.get(), kNewPin);
        ASSERT_FALSE(exported.empty()) << name;
        // A file in the older password encoding comes out in the standard one, the only one
        // today's readers try.
        const bool widened = name == "old-encoding.p12";
        const std::string before =
            DescribePfx(original, widened ? testing_support::WidenBytes(kPin) : kPin);
        EXPECT_EQ(DescribePfx(exported, kNewPinUtf8), testing_support::ExpectedAfterChange(before))
            << name;
        EXPECT_EQ(before.find("WRONG"), std::string::npos) << name;
        EXPECT_EQ(before.find("undecryptable"), std::string::npos) << name;
        EXPECT_FALSE(Import(exported, kWidePin)) << name << " still opens with the old PIN";
        const Store reopened = Import(exported, kNewPin);
        EXPECT_TRUE(reopened && CertStoresHoldSameBags(store.get(), reopened.get())) << name;
    }
}

TEST(PFXExportCertStoreEx, UsesFreshSaltsForTheNewPassword) {
    const std::string original = Fixtures::Get().Bytes("legacy.p12");
    const Store store = Import(original, kWidePin);
    // The same PIN again still gives new salts and IVs: no byte run of the old encryption
    // survives.
    const std::string exported = Export(store.get(), kWidePin);
    ASSERT_EQ(exported.size(), original.size());
    EXPECT_NE(exported, original);
    EXPECT_EQ(DescribePfx(exported, kPin), DescribePfx(original, kPin));
}

TEST(PFXExportCertStoreEx, FollowsTheTwoCallProtocolAndDerivesOnce) {
    const Store store = Import(Fixtures::Get().Bytes("modern.p12"), kWidePin);
    CRYPT_DATA_BLOB blob{0, nullptr};
    ASSERT_TRUE(
        PFXExportCertStoreEx(store.get(), &blob, kNewPin.c_str(), nullptr, EXPORT_PRIVATE_KEYS));
    const DWORD size = blob.cbData;
    ASSERT_GT(size, 0u);
    EXPECT_EQ(blob.pbData, nullptr);

    std::string small(size - 1, '\0');
    blob = {size - 1, reinterpret_cast<BYTE*>(small.data())};
    EXPECT_FALSE(
        PFXExportCertStoreEx(store.get(), &blob, kNewPin.c_str(), nullptr, EXPORT_PRIVATE_KEYS));
    EXPECT_EQ(GetLastError(), ERROR_MORE_DATA);

    std::string first(size + 10, '\0'), second(size, '\0');
    blob = {size + 10, reinterpret_cast<BYTE*>(first.data())};
    ASSERT_TRUE(
        PFXExportCertStoreEx(store.get(), &blob, kNewPin.c_str(), nullptr, EXPORT_PRIVATE_KEYS));
    EXPECT_EQ(blob.cbData, size);
    blob = {size, reinterpret_cast<BYTE*>(second.data())};
    ASSERT_TRUE(
        PFXExportCertStoreEx(store.get(), &blob, kNewPin.c_str(), nullptr, EXPORT_PRIVATE_KEYS));
    // Fresh salts would differ: equal bytes show the export was derived once, not per call.
    EXPECT_EQ(first.substr(0, size), second);
    EXPECT_NE(Export(store.get(), WideText(u"andere PIN")), second);
}

TEST(PFXExportCertStoreEx, RefusesWhatWouldDropKeys) {
    const std::string bytes = Fixtures::Get().Bytes("modern.p12");
    CRYPT_DATA_BLOB blob{0, nullptr};
    const Store locked = Import(bytes, kWidePin, 0);
    ASSERT_TRUE(locked);
    EXPECT_FALSE(
        PFXExportCertStoreEx(locked.get(), &blob, kNewPin.c_str(), nullptr, EXPORT_PRIVATE_KEYS));
    const Store store = Import(bytes, kWidePin);
    EXPECT_FALSE(PFXExportCertStoreEx(store.get(), &blob, kNewPin.c_str(), nullptr, 0));
    EXPECT_EQ(blob.cbData, 0u);
}

TEST(CertStoresHoldSameBags, TellsDifferentFilesApart) {
    const Store modern = Import(Fixtures::Get().Bytes("modern.p12"), kWidePin);
    const Store legacy = Import(Fixtures::Get().Bytes("legacy.p12"), kWidePin);
    const Store ec = Import(Fixtures::Get().Bytes("ec.p12"), kWidePin);
    const Store nomac = Import(Fixtures::Get().Bytes("nomac.p12"), kWidePin);
    EXPECT_TRUE(CertStoresHoldSameBags(modern.get(), modern.get()));
    EXPECT_FALSE(CertStoresHoldSameBags(modern.get(), ec.get()));
    EXPECT_FALSE(CertStoresHoldSameBags(modern.get(), nomac.get()));
    // Same certificates and key, but modern.p12 carries friendly names legacy.p12 lacks.
    EXPECT_FALSE(CertStoresHoldSameBags(modern.get(), legacy.get()));
}

// What one thread and four make of a file with the salts fixed: the export, and the export of
// what the export reads back as (under the old PIN again), or why there is none.
std::string ChangedOn(unsigned threads, const std::string& original) {
    const engine_switches::ScopedThreadCount forced(threads);
    const Store store = Import(original, kWidePin);
    if (!store) {
        return "import failed: " + std::to_string(GetLastError());
    }
    const std::string exported = Export(store.get(), kNewPin);
    const Store reopened = Import(exported, kNewPin);
    if (!reopened || !CertStoresHoldSameBags(store.get(), reopened.get())) {
        return "the export does not read back";
    }
    return exported + Export(reopened.get(), kWidePin);
}

std::vector<std::pair<std::string, std::string>> FilesOfEveryShape() {
    std::vector<std::pair<std::string, std::string>> files;
    for (const std::string& name : Fixtures::Pkcs12Names()) {
        files.emplace_back(name, Fixtures::Get().Bytes(name));
    }
    const testing_support::TempDir dir;
    for (const bool inEncryptedPart : {false, true}) {
        const std::string path = dir / "keys.p12";
        testing_support::BuildManyKeys(path, kPin, 5, inEncryptedPart);
        files.emplace_back(inEncryptedPart ? "5 keys in an encrypted part" : "5 keys",
                           testing_support::ReadAll(path));
    }
    return files;
}

// Where two encodings part, briefly; empty when they are the same.
std::string Difference(const std::string& first, const std::string& second) {
    if (first == second) {
        return "";
    }
    const auto parted = std::mismatch(first.begin(), first.end(), second.begin(), second.end());
    return std::to_string(first.size()) + " and " + std::to_string(second.size()) +
           " bytes, differing from byte " + std::to_string(parted.first - first.begin()) + ": " +
           first.substr(0, 40) + " / " + second.substr(0, 40);
}

TEST(PfxOnSeveralThreads, WritesWhatOneThreadWrites) {
    const engine_switches::ScopedFixedSalts fixed;
    for (const auto& [name, bytes] : FilesOfEveryShape()) {
        const std::string sequential = ChangedOn(1, bytes);
        EXPECT_GT(sequential.size(), 100u) << name << ": " << sequential;
        EXPECT_EQ(Difference(ChangedOn(4, bytes), sequential), "") << name;
    }
}

TEST(PfxOnSeveralThreads, FixedSaltsAreFixedOnlyWhileAsked) {
    const std::string original = Fixtures::Get().Bytes("modern.p12");
    std::string fixedOnce;
    {
        const engine_switches::ScopedFixedSalts fixed;
        fixedOnce = ChangedOn(1, original);
        EXPECT_EQ(ChangedOn(1, original), fixedOnce);
    }
    EXPECT_NE(ChangedOn(1, original), fixedOnce);
}

Store ImportForCheck(std::string bytes, const WideString& password) {
    CRYPT_DATA_BLOB blob = BlobOf(bytes);
    return Store(PFXImportCertStoreForCheck(&blob, password.c_str(), CRYPT_EXPORTABLE));
}

// The check of a written file derives every key with OpenSSL's own code, on every thread that
// takes part, and reads what the tool's import reads.
TEST(PFXImportCertStoreForCheck, DerivesNothingWithTheToolsOwnCode) {
    for (const auto& [name, bytes] : FilesOfEveryShape()) {
        const Store store = Import(bytes, kWidePin);
        ASSERT_TRUE(store) << name;
        for (const unsigned threads : {1u, 4u}) {
            const engine_switches::ScopedThreadCount forced(threads);
            const std::size_t direct = engine_switches::DerivedDirectly();
            const Store checked = ImportForCheck(bytes, kWidePin);
            EXPECT_EQ(engine_switches::DerivedDirectly(), direct) << name << ", " << threads;
            EXPECT_TRUE(checked && CertStoresHoldSameBags(store.get(), checked.get())) << name;
        }
    }
}

// A fault in the tool's derivations (put in by the tests for passwords of more than 64 bytes)
// gives a file that the tool's own import opens, the fault agreeing with itself, but that the
// check refuses.
TEST(PFXImportCertStoreForCheck, RefusesWhatAFaultInTheFastDerivationsWrote) {
    const WideString longPassword = WideText(std::u16string(70, u'P'));
    for (const char* name : {"modern.p12", "legacy.p12"}) {
        const Store store = Import(Fixtures::Get().Bytes(name), kWidePin);
        ASSERT_TRUE(store) << name;
        std::string faulty;
        {
            const engine_switches::ScopedLongPasswordFault fault;
            faulty = Export(store.get(), longPassword);
            ASSERT_FALSE(faulty.empty()) << name;
            EXPECT_TRUE(Import(faulty, longPassword)) << name;
            SetLastError(0);
            EXPECT_FALSE(ImportForCheck(faulty, longPassword)) << name;
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PASSWORD)) << name;
        }
        EXPECT_FALSE(Import(faulty, longPassword)) << name;
        const Store sound = Import(Fixtures::Get().Bytes(name), kWidePin);
        EXPECT_TRUE(ImportForCheck(Export(sound.get(), longPassword), longPassword)) << name;
    }
}

// Whichever thread fails first, the failure reported is the first in the file's order.
TEST(PfxOnSeveralThreads, ReportsWhatOneThreadReports) {
    for (const char* name : {"modern.p12", "legacy.p12", "exotic.p12"}) {
        const std::string original = Fixtures::Get().Bytes(name);
        for (size_t at = 0; at < original.size(); at += 29) {
            std::string damaged = original;
            damaged[at] = static_cast<char>(damaged[at] ^ 0x04);
            DWORD errors[2] = {};
            for (const unsigned threads : {1u, 4u}) {
                const engine_switches::ScopedThreadCount forced(threads);
                SetLastError(0);
                const bool opened = Import(damaged, kWidePin) != nullptr;
                errors[threads == 1 ? 0 : 1] = opened ? ERROR_SUCCESS : GetLastError();
            }
            EXPECT_EQ(errors[1], errors[0]) << name << ", bit flipped at " << at;
        }
    }
    // The part comes first; its key asks too much, while the later key fails at once.
    for (const unsigned threads : {1u, 4u}) {
        const engine_switches::ScopedThreadCount forced(threads);
        ExpectRefused(testing_support::BuildKeysBeyondBudgetBeforeBrokenKey(kPin),
                      PINTOOL_E_TOO_MUCH_WORK, "a key beyond the budget in the first part");
    }
}

}  // namespace

namespace {

// A mistyped PIN is refused after the MAC's derivation alone (both encodings of a PIN beyond
// ASCII), and in a file without a MAC (nomac.p12: certificates encrypted) after its first
// encrypted part's.
TEST(PfxImport, RefusesAMistypedPinAfterOneDerivation) {
    const auto derivations = [](const std::string& bytes, const WideString& pin) {
        const std::size_t before = engine_switches::DerivedDirectly();
        SetLastError(0);
        const bool opened = Import(bytes, pin) != nullptr;
        EXPECT_EQ(GetLastError(),
                  static_cast<DWORD>(opened ? ERROR_SUCCESS : ERROR_INVALID_PASSWORD));
        return engine_switches::DerivedDirectly() - before;
    };
    const std::string modern = Fixtures::Get().Bytes("modern.p12");
    const std::string nomac = Fixtures::Get().Bytes("nomac.p12");
    EXPECT_EQ(derivations(modern, WideText(u"falsch")), 1u);
    EXPECT_EQ(derivations(modern, WideText(u"f\u00e4lsch")), 2u);
    EXPECT_EQ(derivations(modern, kWidePin), 3u) << "the MAC, the part and the key";
    EXPECT_EQ(derivations(nomac, WideText(u"falsch")), 1u);
    EXPECT_EQ(derivations(nomac, kWidePin), 2u) << "the part, the key";
}

}  // namespace
