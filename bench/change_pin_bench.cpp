// What a PIN change costs, beside the key derivations it cannot avoid: reading the file,
// writing it and checking what was written each run every derivation the file asks for.

#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>

#include <map>
#include <vector>

#include "core/soft_certificate.h"
#include "platform/crypt32.h"
#include "platform/pbe_params.h"
#include "tests/support/fixtures.h"
#include "tests/support/pfx_builder.h"

namespace {

using testing_support::Fixtures;
using testing_support::kPin;
using testing_support::TempDir;

const char* const kNewPin = "Neue PIN";

struct Derivation {
    bool mac = false;
    pbe::Params params;
    int macDigest = 0;
};

std::vector<Derivation> DerivationsOf(const std::string& bytes) {
    std::vector<Derivation> derivations;
    const auto* cursor = reinterpret_cast<const unsigned char*>(bytes.data());
    PKCS12* p12 = d2i_PKCS12(nullptr, &cursor, static_cast<long>(bytes.size()));
    if (PKCS12_mac_present(p12)) {
        const X509_ALGOR* digest = nullptr;
        const ASN1_OCTET_STRING* salt = nullptr;
        const ASN1_INTEGER* iterations = nullptr;
        PKCS12_get0_mac(nullptr, &digest, &salt, &iterations, p12);
        Derivation mac{true, {}, OBJ_obj2nid(digest->algorithm)};
        mac.params.iterations = iterations ? ASN1_INTEGER_get(iterations) : 1;
        mac.params.saltLength = ASN1_STRING_length(salt);
        derivations.push_back(mac);
    }
    STACK_OF(PKCS7)* safes = PKCS12_unpack_authsafes(p12);
    for (int i = 0; i < sk_PKCS7_num(safes); ++i) {
        PKCS7* safe = sk_PKCS7_value(safes, i);
        if (OBJ_obj2nid(safe->type) == NID_pkcs7_encrypted) {
            derivations.push_back({false, *pbe::Read(safe->d.encrypted->enc_data->algorithm), 0});
            continue;
        }
        STACK_OF(PKCS12_SAFEBAG)* bags = PKCS12_unpack_p7data(safe);
        for (int j = 0; j < sk_PKCS12_SAFEBAG_num(bags); ++j) {
            const PKCS12_SAFEBAG* bag = sk_PKCS12_SAFEBAG_value(bags, j);
            if (PKCS12_SAFEBAG_get_nid(bag) == NID_pkcs8ShroudedKeyBag) {
                const X509_ALGOR* algorithm = nullptr;
                X509_SIG_get0(PKCS12_SAFEBAG_get0_pkcs8(bag), &algorithm, nullptr);
                derivations.push_back({false, *pbe::Read(algorithm), 0});
            }
        }
        sk_PKCS12_SAFEBAG_pop_free(bags, PKCS12_SAFEBAG_free);
    }
    sk_PKCS7_pop_free(safes, PKCS7_free);
    PKCS12_free(p12);
    return derivations;
}

// The derivation itself, with the file's parameters: PKCS#12 key and IV, or PBKDF2.
void Derive(const Derivation& d) {
    unsigned char salt[64] = {}, out[64];
    const int saltLength = std::min(d.params.saltLength, 64);
    const int iterations = static_cast<int>(d.params.iterations);
    if (d.mac) {
        const EVP_MD* md = EVP_get_digestbynid(d.macDigest);
        PKCS12_key_gen_utf8(kPin.c_str(), -1, salt, saltLength, PKCS12_MAC_ID, iterations,
                            EVP_MD_get_size(md), out, md);
    } else if (d.params.scheme == pbe::Scheme::Pbkdf2) {
        PKCS5_PBKDF2_HMAC(
            kPin.c_str(), -1, salt, saltLength, iterations,
            EVP_get_digestbynid(d.params.prfNid == NID_hmacWithSHA256 ? NID_sha256 : NID_sha1), 32,
            out);
    } else {
        // PKCS#12 schemes derive key and IV separately, as long as the cipher needs them.
        int cipherNid = 0, digestNid = 0;
        EVP_PBE_find(EVP_PBE_TYPE_OUTER, d.params.algorithmNid, &cipherNid, &digestNid, nullptr);
        const EVP_CIPHER* cipher = EVP_get_cipherbynid(cipherNid);
        const EVP_MD* md = EVP_get_digestbynid(digestNid);
        PKCS12_key_gen_utf8(kPin.c_str(), -1, salt, saltLength, PKCS12_KEY_ID, iterations,
                            EVP_CIPHER_get_key_length(cipher), out, md);
        if (EVP_CIPHER_get_iv_length(cipher) > 0) {
            PKCS12_key_gen_utf8(kPin.c_str(), -1, salt, saltLength, PKCS12_IV_ID, iterations,
                                EVP_CIPHER_get_iv_length(cipher), out, md);
        }
    }
    benchmark::DoNotOptimize(out);
}

const std::string& ManyCertificates(int count) {
    static const TempDir dir;
    static std::map<int, std::string> files;
    if (!files.count(count)) {
        const std::string path = dir / ("many-" + std::to_string(count) + ".p12");
        testing_support::BuildManyCertificates(path, kPin, count);
        files[count] = testing_support::ReadAll(path);
    }
    return files[count];
}

void RunChangePin(benchmark::State& state, const std::string& original) {
    const TempDir dir;
    const std::string path = dir / "file.p12";
    testing_support::WriteAll(path, original);
    CByteBuffer certificate;
    certificate.LoadFromFile(path.c_str(), 0, 0);
    for (auto _ : state) {
        // The held bytes keep the old PIN, so every round is the same change.
        if (ChangePin(certificate, path.c_str(), kPin.c_str(), kNewPin, kNewPin) !=
            Outcome::PinChanged) {
            state.SkipWithError("change failed");
            break;
        }
    }
}

void RunDerivations(benchmark::State& state, const std::string& original) {
    const std::vector<Derivation> derivations = DerivationsOf(original);
    for (auto _ : state) {
        for (int pass = 0; pass < 3; ++pass) {  // read, write, check
            for (const Derivation& d : derivations) {
                Derive(d);
            }
        }
    }
}

// Reading a file of many tiny bags, no MAC and nothing encrypted: what is left is the work
// per bag, which must grow linearly.
void ImportManyBags(benchmark::State& state) {
    std::string bytes =
        testing_support::BuildManyBags(static_cast<int>(state.range(0)), 0, testing_support::kPin);
    CRYPT_DATA_BLOB blob{static_cast<DWORD>(bytes.size()), reinterpret_cast<BYTE*>(bytes.data())};
    for (auto _ : state) {
        const UniqueCertStore store(PFXImportCertStore(&blob, u"PIN", CRYPT_EXPORTABLE));
        if (!store) {
            state.SkipWithError("import failed");
            break;
        }
    }
    state.SetComplexityN(state.range(0));
}

void ChangePinTypical(benchmark::State& state, const char* fixture) {
    RunChangePin(state, Fixtures::Get().Bytes(fixture));
}
void DerivationsTypical(benchmark::State& state, const char* fixture) {
    RunDerivations(state, Fixtures::Get().Bytes(fixture));
}
void ChangePinMany(benchmark::State& state) {
    RunChangePin(state, ManyCertificates(static_cast<int>(state.range(0))));
    state.SetComplexityN(state.range(0));
}
void DerivationsMany(benchmark::State& state) {
    RunDerivations(state, ManyCertificates(static_cast<int>(state.range(0))));
}

BENCHMARK_CAPTURE(ChangePinTypical, modern, "modern.p12")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DerivationsTypical, modern, "modern.p12")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ChangePinTypical, legacy, "legacy.p12")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DerivationsTypical, legacy, "legacy.p12")->Unit(benchmark::kMillisecond);
BENCHMARK(ChangePinMany)
    ->Arg(1)
    ->Arg(10)
    ->Arg(100)
    ->Arg(1000)
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(ImportManyBags)
    ->Arg(10'000)
    ->Arg(50'000)
    ->Arg(100'000)
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(DerivationsMany)->Arg(1)->Arg(1000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
