#pragma once
// PKCS#12 files put together bag by bag from their encodings, for the structures other
// programs write and OpenSSL's encoder would change: secret bags holding encrypted keys as Java
// writes them, attributes out of DER's order, nested bags, protection of unknown kinds.

#include <string>
#include <vector>

namespace testing_support {

using Der = std::string;

// An element of the identifier octet `tag` holding `content`.
Der Element(unsigned char tag, const Der& content);
Der Sequence(const std::vector<Der>& items);
Der Oid(const char* dotted);

// An EC private key's PrivateKeyInfo, made afresh.
Der NewPrivateKeyInfo();
// `plain` encrypted under `password` as an EncryptedPrivateKeyInfo: PBES2 with PBKDF2
// (HMAC-SHA256) and AES-256-CBC, or with `pkcs12Scheme` PBE-SHA1-3DES.
Der Sealed(const Der& plain, const std::string& password, bool pkcs12Scheme = false);
// `plain` encrypted under `password` with the password-based algorithm `algorithm` (its DER).
Der Encrypted(const Der& algorithm, const Der& plain, const std::string& password);
// What `sealed` decrypts to under `password`, or "" where decryption fails. A wrong password
// may still pass CBC's padding check (about once in 256) and give other bytes.
Der Unseal(const Der& sealed, const std::string& password);

// Attributes in the order given: a friendly name and a local key id.
Der NameAndKeyId(const std::string& name, const std::string& keyId);

Der ShroudedKeyBag(const Der& sealed, const Der& attributes = "");
// A secret bag of type `typeOid` whose value is `value`, as given.
Der SecretBag(const char* typeOid, const Der& value, const Der& attributes = "");
// A secret bag holding an encrypted key as Java's PKCS12 key store keeps secret keys: of type
// pkcs8ShroudedKeyBag, the EncryptedPrivateKeyInfo inside an OCTET STRING.
Der JavaSecretKeyBag(const Der& sealed, const Der& attributes = "");
Der SafeContentsBag(const std::vector<Der>& bags);

struct Part {
    std::vector<Der> bags;
    bool encrypted = false;
};

// A PFX of these parts, the encrypted ones under `password` (PBES2, AES-256), with a SHA-256 MAC.
Der Pfx(const std::vector<Part>& parts, const std::string& password);

// The SafeContents of each part of `pfx`, the encrypted ones decrypted with `password` ("" where
// decryption fails; as with Unseal, a wrong password may still give other bytes).
std::vector<Der> PartsOf(const Der& pfx, const std::string& password);
// The bags of a SafeContents, each as encoded.
std::vector<Der> BagsOf(const Der& contents);
// The children of a constructed element, or of what an OCTET STRING holds, each as encoded.
std::vector<Der> ChildrenOf(const Der& element);

// Every salt and IV in `pfx`, the encrypted parts read with `password`: the MAC's salt and each
// OCTET STRING in the parameters of a password-based algorithm (PKCS#5's and PKCS#12's, PBES2
// and PBMAC1 among them), wherever one stands, each part and bag, nested or sealed, searched.
std::vector<Der> SaltsAndIvs(const Der& pfx, const std::string& password);

}  // namespace testing_support
