#include "pkcs12/hmac_kdf.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>

#include <string>
#include <vector>

namespace {

struct Named {
    const char* name;
    hmackdf::Digest digest;
};

const std::vector<Named> kDigests = {{"SHA1", hmackdf::Digest::kSha1},
                                     {"SHA224", hmackdf::Digest::kSha224},
                                     {"SHA256", hmackdf::Digest::kSha256},
                                     {"SHA384", hmackdf::Digest::kSha384},
                                     {"SHA512", hmackdf::Digest::kSha512}};

// Around the block sizes of the hashes (64 and 128 bytes), where keys are hashed first and
// the PKCS#12 material gets a second block; bytes of 0xFF make the PKCS#12 additions carry.
std::vector<std::string> Strings() {
    return {"",
            "a",
            "Grüße€",
            std::string(63, 'x'),
            std::string(64, 'y'),
            std::string(65, '\xff'),
            std::string(128, '\xff'),
            std::string(129, 'z') + '\0'};
}

hmackdf::Input In(const std::string& text) {
    return {reinterpret_cast<const unsigned char*>(text.data()), text.size()};
}

unsigned char* Bytes(std::string& text) {
    return reinterpret_cast<unsigned char*>(text.data());
}

TEST(HmacKdf, Pbkdf2GivesWhatOpenSslGivesForEveryDigestAndShape) {
    for (const Named& digest : kDigests) {
        for (const std::string& password : Strings()) {
            for (const std::string& salt : Strings()) {
                for (const int iterations : {1, 2, 37}) {
                    for (const std::size_t length : {1u, 20u, 32u, 65u, 130u}) {
                        std::string expected(length, '\0'), derived(length, '\1');
                        ASSERT_EQ(
                            PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()),
                                              In(salt).bytes, static_cast<int>(salt.size()),
                                              iterations, EVP_get_digestbyname(digest.name),
                                              static_cast<int>(length), Bytes(expected)),
                            1);
                        hmackdf::Pbkdf2(digest.digest, In(password), In(salt),
                                        static_cast<std::uint64_t>(iterations), Bytes(derived),
                                        length);
                        ASSERT_EQ(derived, expected)
                            << digest.name << ", password of " << password.size() << ", salt of "
                            << salt.size() << ", " << iterations << " iterations, " << length
                            << " bytes";
                    }
                }
            }
        }
    }
}

TEST(HmacKdf, Pkcs12KdfGivesWhatOpenSslGivesForEveryDigestIdAndShape) {
    for (const Named& digest : kDigests) {
        for (const std::string& password : Strings()) {
            for (const std::string& salt : Strings()) {
                if (password.empty() && salt.empty()) {
                    continue;  // OpenSSL refuses it, and so does the tool before it gets here
                }
                for (const int id : {PKCS12_KEY_ID, PKCS12_IV_ID, PKCS12_MAC_ID}) {
                    for (const int iterations : {1, 3}) {
                        // Up to three blocks of output, so that the material is added to twice.
                        for (const std::size_t length : {1u, 8u, 24u, 100u, 150u}) {
                            std::string expected(length, '\0'), derived(length, '\1');
                            std::string pass = password;  // OpenSSL takes it as not const
                            std::string s = salt;
                            ASSERT_EQ(PKCS12_key_gen_uni(Bytes(pass), static_cast<int>(pass.size()),
                                                         Bytes(s), static_cast<int>(s.size()), id,
                                                         iterations, static_cast<int>(length),
                                                         Bytes(expected),
                                                         EVP_get_digestbyname(digest.name)),
                                      1);
                            hmackdf::Pkcs12(digest.digest, In(password), In(salt), id,
                                            static_cast<std::uint64_t>(iterations), Bytes(derived),
                                            length);
                            ASSERT_EQ(derived, expected)
                                << digest.name << ", id " << id << ", password of "
                                << password.size() << ", salt of " << salt.size() << ", "
                                << iterations << " iterations, " << length << " bytes";
                        }
                    }
                }
            }
        }
    }
}

TEST(HmacKdf, KnowsOnlyTheDigestsItHas) {
    EXPECT_EQ(hmackdf::DigestOf(NID_sha256), hmackdf::Digest::kSha256);
    EXPECT_EQ(hmackdf::DigestOf(NID_sha1), hmackdf::Digest::kSha1);
    EXPECT_EQ(hmackdf::DigestOf(NID_sha384), hmackdf::Digest::kSha384);
    for (const int other : {NID_md5, NID_sha512_256, NID_sha3_256, NID_sm3, NID_undef}) {
        EXPECT_FALSE(hmackdf::DigestOf(other).has_value()) << other;
    }
}

}  // namespace
