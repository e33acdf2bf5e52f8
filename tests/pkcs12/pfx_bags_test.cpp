#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pkcs12/crypt32.h"
#include "platform/file_api.h"
#include "tests/support/bag_builder.h"
#include "tests/support/wide_text.h"

namespace {

using namespace testing_support;

const std::string kOld = "Grüße€";
const std::string kNew = "Neue PIN 2026 ß";
const WideString kWideOld = WideText(u"Grüße€");
const WideString kWideNew = WideText(u"Neue PIN 2026 ß");

CRYPT_DATA_BLOB BlobOf(std::string& bytes) {
    return {static_cast<DWORD>(bytes.size()), reinterpret_cast<BYTE*>(bytes.data())};
}

// The file under the new PIN, or "" with the import's error in `error`.
std::string Change(std::string bytes, DWORD* error = nullptr) {
    CRYPT_DATA_BLOB blob = BlobOf(bytes);
    const UniqueCertStore store(PFXImportCertStore(&blob, kWideOld.c_str(), CRYPT_EXPORTABLE));
    if (error != nullptr) {
        *error = store ? ERROR_SUCCESS : GetLastError();
    }
    CRYPT_DATA_BLOB out{0, nullptr};
    if (!store ||
        !PFXExportCertStoreEx(store.get(), &out, kWideNew.c_str(), nullptr, EXPORT_PRIVATE_KEYS)) {
        return "";
    }
    std::string written(out.cbData, '\0');
    out.pbData = reinterpret_cast<BYTE*>(written.data());
    if (!PFXExportCertStoreEx(store.get(), &out, kWideNew.c_str(), nullptr, EXPORT_PRIVATE_KEYS)) {
        return "";
    }
    return written;
}

bool Opens(std::string bytes, const WideString& password) {
    CRYPT_DATA_BLOB blob = BlobOf(bytes);
    return UniqueCertStore(PFXImportCertStore(&blob, password.c_str(), CRYPT_EXPORTABLE)) !=
           nullptr;
}

// The EncryptedPrivateKeyInfo of a bag as Java writes secret keys.
Der SealedInJavaBag(const Der& bag) {
    const Der secretBag = ChildrenOf(ChildrenOf(bag)[1])[0];
    return ChildrenOf(ChildrenOf(ChildrenOf(secretBag)[1])[0])[0];
}

TEST(PfxBags, SecretKeysKeptAsJavaKeepsThemAreEncryptedAnew) {
    const Der aesKey =
        Sequence({Element(0x02, std::string(1, '\0')), Sequence({Oid("2.16.840.1.101.3.4.1.42")}),
                  Element(0x04, std::string(32, 'k'))});
    // Java writes the friendly name before the key id, out of DER's order.
    const Der attributes = NameAndKeyId("geheimer schluessel mit langem namen", "id-1");
    for (const bool pkcs12Scheme : {false, true}) {
        const Der javaBag = JavaSecretKeyBag(Sealed(aesKey, kOld, pkcs12Scheme), attributes);
        const Der keyBag = ShroudedKeyBag(Sealed(NewPrivateKeyInfo(), kOld));
        const std::string changed = Change(Pfx({{{javaBag, keyBag}, false}}, kOld));
        ASSERT_FALSE(changed.empty()) << pkcs12Scheme;
        EXPECT_TRUE(Opens(changed, kWideNew));
        EXPECT_FALSE(Opens(changed, kWideOld));

        const std::vector<Der> bags = BagsOf(PartsOf(changed, kNew).at(0));
        ASSERT_EQ(bags.size(), 2u);
        const Der sealed = SealedInJavaBag(bags[0]);
        EXPECT_EQ(Unseal(sealed, kNew), aesKey);
        // A wrong key may pass CBC's padding check; the key itself never comes out.
        EXPECT_NE(Unseal(sealed, kOld), aesKey);
        EXPECT_NE(sealed, SealedInJavaBag(javaBag));
        // The algorithm stays; its salt and IV are new.
        EXPECT_EQ(ChildrenOf(ChildrenOf(sealed)[0])[0],
                  ChildrenOf(ChildrenOf(SealedInJavaBag(javaBag))[0])[0]);
        // Everything around the value is as it was, the attributes in their order.
        EXPECT_EQ(ChildrenOf(bags[0])[0], ChildrenOf(javaBag)[0]);
        EXPECT_EQ(ChildrenOf(bags[0])[2], attributes);
    }
}

TEST(PfxBags, EveryBagKeepsItsBytesButTheValuesEncryptedAnew) {
    const Der attributes = NameAndKeyId("ein Name, länger als die Kennung", "id");
    const Der plainSecret =
        SecretBag("1.2.3.4.5", Element(0x04, "nicht verschluesselt"), attributes);
    const Der key = NewPrivateKeyInfo();
    const Der keyBag = ShroudedKeyBag(Sealed(key, kOld), attributes);
    const std::string original =
        Pfx({{{plainSecret, keyBag}, false}, {{plainSecret, plainSecret}, true}}, kOld);

    const std::string changed = Change(original);
    ASSERT_FALSE(changed.empty());
    const std::vector<Der> parts = PartsOf(changed, kNew);
    ASSERT_EQ(parts.size(), 2u);
    const std::vector<Der> clear = BagsOf(parts[0]);
    ASSERT_EQ(clear.size(), 2u);
    EXPECT_EQ(clear[0], plainSecret);
    EXPECT_EQ(ChildrenOf(clear[1])[2], attributes);
    EXPECT_EQ(Unseal(ChildrenOf(ChildrenOf(clear[1])[1])[0], kNew), key);
    EXPECT_EQ(BagsOf(parts[1]), (std::vector<Der>{plainSecret, plainSecret}));
}

// As a hash in a certificate may: octets that begin like a SEQUENCE whose contents read as no
// element are data. A constructed element whose contents do not read is damage: a value could
// hide there.
TEST(PfxBags, OctetsThatOnlyLookLikeAnEncodingAreKeptAsData) {
    const Der lookalike = SecretBag("1.2.3.4", Element(0x04, std::string("\x30\x02\x01\x05", 4)));
    const std::string changed = Change(Pfx({{{lookalike}, false}}, kOld));
    ASSERT_FALSE(changed.empty());
    EXPECT_EQ(BagsOf(PartsOf(changed, kNew).at(0)), std::vector<Der>{lookalike});
    const Der constructed = SecretBag("1.2.3.4", Sequence({Element(0x31, "\x01\x05")}));
    DWORD error = 0;
    EXPECT_EQ(Change(Pfx({{{constructed}, false}}, kOld), &error), "");
    EXPECT_EQ(error, PINTOOL_E_DAMAGED);
}

TEST(PfxBags, EncryptedValuesInBagsOfAnyTypeAreEncryptedAnew) {
    const Der value = Sequence({Element(0x04, "ein Geheimnis")});
    const Der unknownType = SecretBag("1.3.6.1.4.1.99999.7", Sealed(value, kOld));
    const std::string changed = Change(Pfx({{{unknownType}, true}}, kOld));
    ASSERT_FALSE(changed.empty());
    const Der bag = BagsOf(PartsOf(changed, kNew).at(0)).at(0);
    const Der sealed = ChildrenOf(ChildrenOf(ChildrenOf(bag)[1])[0])[1];
    const Der inner = ChildrenOf(sealed)[0];
    EXPECT_EQ(Unseal(inner, kNew), value);
    EXPECT_NE(Unseal(inner, kOld), value);
}

TEST(PfxBags, ProtectionTheToolCannotRenewRefusesTheChange) {
    const Der value = Sequence({Element(0x04, "x")});
    const Der sealed = Sealed(value, kOld);
    const Der algorithm = ChildrenOf(sealed)[0];
    const struct {
        const char* what;
        Der bag;
    } cases[] = {
        {"a password-based algorithm outside an EncryptedPrivateKeyInfo",
         SecretBag("1.3.6.1.4.1.99999.7",
                   Sequence({Element(0x02, "\x01"), algorithm, Element(0x04, "data")}))},
        {"a nested safe-contents bag", SafeContentsBag({SecretBag("1.2.3.4", Element(0x04, "x"))})},
        {"a secret bag that says it holds a shrouded key, but in clear",
         SecretBag("1.2.840.113549.1.12.10.1.2", Element(0x04, "roher Schluessel"))},
        {"public-key encrypted contents in a bag",
         SecretBag("1.3.6.1.4.1.99999.7",
                   Sequence({Oid("1.2.840.113549.1.7.3"), Element(0x04, "umschlag")}))},
        {"a scheme the tool cannot write",
         ShroudedKeyBag(Sequence(
             {Sequence({Oid("1.2.840.113549.1.5.13"),
                        Sequence({Sequence({Oid("1.2.840.113549.1.5.12"),
                                            Sequence({Element(0x04, "salzsalz"),
                                                      Element(0x02, "\x08")})}),
                                  Sequence({Oid("1.3.6.1.4.1.99999.9"), Element(0x04, "iv")})})}),
              Element(0x04, std::string(16, 'c'))}))},
    };
    for (const auto& [what, bag] : cases) {
        for (const bool encrypted : {false, true}) {
            const std::string file = Pfx({{{bag}, encrypted}}, kOld);
            DWORD error = ERROR_SUCCESS;
            EXPECT_EQ(Change(file, &error), "") << what;
            EXPECT_EQ(error, PINTOOL_E_CANNOT_RENEW) << what;
            // A wrong PIN is said first: nothing of the file is known then.
            std::string bytes = file;
            CRYPT_DATA_BLOB blob = BlobOf(bytes);
            EXPECT_FALSE(UniqueCertStore(PFXImportCertStore(&blob, kWideNew.c_str(), 1)));
            EXPECT_EQ(GetLastError(), ERROR_INVALID_PASSWORD) << what;
        }
    }
}

}  // namespace
