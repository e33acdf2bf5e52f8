#include "tests/support/hostile_builder.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/pkcs12.h>

#include <cstdint>
#include <stdexcept>

#include "pkcs12/limits.h"
#include "tests/support/fixtures.h"

namespace testing_support {
namespace {

constexpr char kUnknownType[] = "1.3.6.1.4.1.99999.5";  // of a secret, or of an attribute
constexpr char kUnknownBag[] = "1.3.6.1.4.1.99999.6";
const Der kOneIteration("\x02\x01\x01", 3);
const Der kNull("\x05\x00", 2);
// What a cheap value holds: one element, as a secret's value may be.
const Der kSecret("\x04\x04Wert", 6);

const Der& TripleDesOid() {
    static const Der oid = Oid("1.2.840.113549.1.12.1.3");
    return oid;
}

// Salts counted up, so that no two values share a derivation.
Der Salt(std::uint64_t number) {
    Der salt(8, '\0');
    for (auto at = salt.rbegin(); at != salt.rend(); ++at, number >>= 8) {
        *at = static_cast<char>(number & 0xFF);
    }
    return salt;
}

Der TripleDes(const Der& salt, const Der& iterations) {
    return Sequence({TripleDesOid(), Sequence({Element(0x04, salt), iterations})});
}

// `plain` sealed under kPin with PKCS#12's 3DES scheme and one iteration, the count then written
// as `iterations` says (an INTEGER's encoding): OpenSSL derives once for a count of 0 too.
Der Cheap(const Der& plain, const Der& salt, const Der& iterations = kOneIteration) {
    return Sequence({TripleDes(salt, iterations),
                     Element(0x04, Encrypted(TripleDes(salt, kOneIteration), plain, kPin))});
}

Der Repeated(const Der& element, size_t times) {
    Der all;
    all.reserve(element.size() * times);
    for (size_t i = 0; i < times; ++i) {
        all += element;
    }
    return all;
}

// Cheap values with counted salts, as many as fill `bytes`, one after the other.
Der CheapValues(size_t bytes) {
    const size_t count = bytes / Cheap(kSecret, Salt(0)).size();
    Der all;
    for (size_t i = 0; i < count; ++i) {
        all += Cheap(kSecret, Salt(i));
    }
    return all;
}

// `inner` wrapped `levels` times in `tag`, with definite or indefinite lengths.
Der Nested(Der inner, int levels, unsigned char tag, bool indefinite = false) {
    for (int i = 0; i < levels; ++i) {
        inner = indefinite ? Der{static_cast<char>(tag), '\x80'} + inner + Der(2, '\0')
                           : Element(tag, inner);
    }
    return inner;
}

Der Secret(const Der& value) {
    return SecretBag(kUnknownType, value);
}

Der DataPart(const Der& contents) {
    return Sequence({Oid("1.2.840.113549.1.7.1"), Element(0xA0, Element(0x04, contents))});
}

Der EncryptedPart(const Der& contents, std::uint64_t salt) {
    const Der algorithm = TripleDes(Salt(salt), kOneIteration);
    return Sequence(
        {Oid("1.2.840.113549.1.7.6"),
         Element(0xA0,
                 Sequence({Der("\x02\x01\x00", 3),
                           Sequence({Oid("1.2.840.113549.1.7.1"), algorithm,
                                     Element(0x80, Encrypted(algorithm, contents, kPin))})}))});
}

// A PFX of these parts (ContentInfos, as encoded) with a SHA-256 MAC under kPin.
Der File(const std::vector<Der>& parts) {
    const Der safe = Sequence(parts);
    Der salt = Salt(0x4D4143);
    unsigned char key[32], mac[32];
    unsigned int macLength = 0;
    if (PKCS12_key_gen_utf8_ex(kPin.data(), static_cast<int>(kPin.size()),
                               reinterpret_cast<unsigned char*>(salt.data()),
                               static_cast<int>(salt.size()), PKCS12_MAC_ID, 2048, sizeof key, key,
                               EVP_sha256(), nullptr, nullptr) != 1 ||
        HMAC(EVP_sha256(), key, sizeof key, reinterpret_cast<const unsigned char*>(safe.data()),
             safe.size(), mac, &macLength) == nullptr) {
        throw std::runtime_error("cannot compute the MAC");
    }
    const Der digest = Sequence({Sequence({Oid("2.16.840.1.101.3.4.2.1"), kNull}),
                                 Element(0x04, Der(reinterpret_cast<char*>(mac), macLength))});
    return Sequence({Der("\x02\x01\x03", 3), DataPart(safe),
                     Sequence({digest, Element(0x04, salt), Der("\x02\x02\x08\x00", 4)})});
}

Der OneBag(const Der& bag) {
    return File({DataPart(Sequence({bag}))});
}

Der ValuesPerBag(std::uint64_t count) {
    Der bags;
    for (std::uint64_t i = 0; i < count; ++i) {
        bags += Sequence({Oid(kUnknownBag), Element(0xA0, Cheap(kSecret, Salt(i)))});
    }
    return File({DataPart(Element(0x30, bags))});
}

Der EmptyEncryptedParts(size_t count) {
    std::vector<Der> parts;
    for (size_t i = 0; i < count; ++i) {
        parts.push_back(EncryptedPart(Sequence({}), i));
    }
    return File(parts);
}

Der ManyNulls(size_t count) {
    const Der attribute = Sequence({Oid(kUnknownType), Element(0x31, Repeated(kNull, count))});
    return OneBag(SecretBag(kUnknownType, kSecret, Element(0x31, attribute)));
}

// Values whose empty salts become 8 bytes when sealed anew (96,000 bytes more), beside plain
// data that fills the file to 64 KiB below the limit; within the budget of work.
Der GrowsPastLimit() {
    const Der values = Secret(Element(0x30, Repeated(Cheap(kSecret, ""), 12'000)));
    const Der filler = Secret(Element(0x04, Der(kMaxPfxBytes - 65536 - values.size(), '\xFF')));
    return File({DataPart(Sequence({filler, values}))});
}

Der InOneBag(const Der& value) {
    return OneBag(Secret(value));
}

const Der& OpensWithPin() {
    static const Der value = Cheap(kSecret, Salt(1));
    return value;
}

Der ShroudedWithIterations(const Der& iterations) {
    return OneBag(ShroudedKeyBag(Cheap(NewPrivateKeyInfo(), Salt(1), iterations)));
}

}  // namespace

const std::vector<HostileFile>& HostileFiles() {
    static const std::vector<HostileFile> files = {
        {"one-iteration-values-per-bag.p12", [] { return ValuesPerBag(99'000); }},
        {"one-iteration-values-in-one-bag.p12",
         [] { return InOneBag(Element(0x30, CheapValues(13'000'000))); }},
        {"empty-encrypted-parts.p12",
         [] {
             return EmptyEncryptedParts((kMaxPfxBytes - 1024) /
                                        EncryptedPart(Sequence({}), 0).size());
         }},
        {"eight-million-nulls-in-one-attribute.p12", [] { return ManyNulls(8'000'000); }},
        // As much as the budget of work lets through.
        {"budget-values-per-bag.p12", [] { return ValuesPerBag(16'000); }},
        {"budget-values-in-one-bag.p12",
         [] {
             return InOneBag(Element(0x30, CheapValues(16'000 * Cheap(kSecret, Salt(0)).size())));
         }},
        {"budget-empty-encrypted-parts.p12", [] { return EmptyEncryptedParts(9'000); }},
        {"budget-nulls-in-one-attribute.p12", [] { return ManyNulls(1'100'000); }},
        {"octet-strings-46-deep.p12",
         [] { return InOneBag(Nested(Der(15'000'000, '\xFF'), 46, 0x04)); }},
        {"indefinite-sequences-43-deep-around-nulls.p12",
         [] { return InOneBag(Nested(Repeated(kNull, 4'000'000), 43, 0x30, true)); }},
        {"value-in-50-indefinite-sequences.p12",
         [] { return InOneBag(Nested(OpensWithPin(), 50, 0x30, true)); }},
        {"value-in-50-sequences.p12", [] { return InOneBag(Nested(OpensWithPin(), 50, 0x30)); }},
        {"value-in-bit-string.p12", [] { return InOneBag(Element(0x03, '\0' + OpensWithPin())); }},
        {"value-in-implicit-primitive.p12", [] { return InOneBag(Element(0x80, OpensWithPin())); }},
        {"value-in-octets-with-extra-byte.p12",
         [] { return InOneBag(Element(0x04, OpensWithPin() + '\0')); }},
        {"value-before-truncated-element.p12",
         [] { return InOneBag(Element(0x30, OpensWithPin() + "\x04\x05\xAB")); }},
        {"nesting-47-deep.p12", [] { return InOneBag(Nested(kNull, 47, 0x30)); }},
        {"null-after-contents-in-encrypted-part.p12",
         [] {
             const Der key = ShroudedKeyBag(Sealed(NewPrivateKeyInfo(), kPin, true));
             return File({EncryptedPart(Sequence({key}) + kNull, 1)});
         }},
        {"value-opens-to-two-elements.p12", [] { return InOneBag(Cheap(kNull + kNull, Salt(1))); }},
        {"key-zero-iterations.p12", [] { return ShroudedWithIterations(Der("\x02\x01\x00", 3)); }},
        {"key-negative-iterations.p12",
         [] { return ShroudedWithIterations(Der("\x02\x01\xFB", 3)); }},
        {"key-iterations-beyond-64-bits.p12",
         [] { return ShroudedWithIterations(Der("\x02\x09\x01\0\0\0\0\0\0\0\x01", 11)); }},
        {"key-pbes2-without-parameters.p12",
         [] {
             const Der algorithm = Sequence({Oid("1.2.840.113549.1.5.13")});
             return OneBag(ShroudedKeyBag(Sequence({algorithm, Element(0x04, Der(16, 'x'))})));
         }},
        {"grows-past-limit-when-changed.p12", GrowsPastLimit},
    };
    return files;
}

}  // namespace testing_support
