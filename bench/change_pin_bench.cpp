// What a user waits for when changing a PIN, beside the floor: every case is a fresh process
// doing one change as the dialog does (the file read when it was chosen, OpenSSL set up when the
// PIN dialog opened, then "PIN ändern"), and a fresh process doing nothing but the same file's
// key derivations one after another, three times over (reading, writing, checking the written
// file). Rounds alternate the two, and the ratios are taken round by round.
//
//   change_pin_bench [ROUNDS [TEXT]] runs every case (or those whose name holds TEXT) and prints
//                                    the table
//   change_pin_bench change FILE     one change (from the fixtures' PIN), as a child
//   change_pin_bench cold FILE       the same without setting OpenSSL up first
//   change_pin_bench serial FILE     the same on one thread
//   change_pin_bench floor FILE      the derivations alone, as a child
//   change_pin_bench ownfloor FILE   the same derivations as the tool makes them, one after
//                                    another (its library context, freed memory wiped)
//   change_pin_bench import FILE     one import alone (tiny bags, no derivations), as a child
//   change_pin_bench open FILE       the file opened with the right PIN, as the change reads it
//   change_pin_bench wrong FILE      one change with a mistyped old PIN, up to its refusal

#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/soft_certificate.h"
#include "pkcs12/crypt32.h"
#include "pkcs12/openssl_context.h"
#include "pkcs12/openssl_memory.h"
#include "pkcs12/parallel.h"
#include "pkcs12/pbe_params.h"
#include "platform/memory_api.h"
#include "platform/string_api.h"
#include "tests/support/engine_switches.h"
#include "tests/support/fixtures.h"
#include "tests/support/pfx_builder.h"

namespace {

using testing_support::Fixtures;
using testing_support::kPin;
using testing_support::TempDir;

const char* const kNewPin = "Neue PIN";

// Wall and CPU time of the whole process, every thread it had included, in microseconds.
struct Times {
    double wall = 0;
    double cpu = 0;
    double system = 0;  // of the CPU time, what the kernel spent
};

double Microseconds(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) * 1e6 + static_cast<double>(now.tv_nsec) / 1e3;
}

double SystemMicroseconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_stime.tv_sec) * 1e6 +
           static_cast<double>(usage.ru_stime.tv_usec);
}

Times Measure(const std::function<bool()>& work) {
    const double wall = Microseconds(CLOCK_MONOTONIC);
    const double cpu = Microseconds(CLOCK_PROCESS_CPUTIME_ID);
    const double system = SystemMicroseconds();
    if (!work()) {
        throw std::runtime_error("the measured work failed");
    }
    return {Microseconds(CLOCK_MONOTONIC) - wall, Microseconds(CLOCK_PROCESS_CPUTIME_ID) - cpu,
            SystemMicroseconds() - system};
}

// ---- the children

int ReportFromChild(const Times& times) {
    std::printf("RESULT %.1f %.1f %.1f\n", times.wall, times.cpu, times.system);
    return 0;
}

int ChangeInChild(const char* path, bool prepared) {
    // As pintool's main does before anything else.
    if (!WipeOpensslMemoryOnRelease()) {
        return 1;
    }
    CByteBuffer certificate;
    if (OpenSoftCertificate(path, certificate) != Outcome::Accepted ||
        (prepared && !PrepareChangePin())) {
        return 1;
    }
    return ReportFromChild(Measure([&] {
        return ChangePin(certificate, path, kPin.c_str(), kNewPin, kNewPin) == Outcome::PinChanged;
    }));
}

// Opening `path` with the right PIN, as a change reads it, or a whole change with a mistyped old
// PIN: what a typing error costs is set against the first.
int OpenOrMistypeInChild(const char* path, bool mistyped) {
    if (!WipeOpensslMemoryOnRelease()) {
        return 1;
    }
    CByteBuffer certificate;
    if (OpenSoftCertificate(path, certificate) != Outcome::Accepted || !PrepareChangePin()) {
        return 1;
    }
    return ReportFromChild(Measure([&] {
        if (mistyped) {
            return ChangePin(certificate, path, "Vertippt", kNewPin, kNewPin) ==
                   Outcome::CannotOpenWithOldPin;
        }
        CRYPT_DATA_BLOB blob = *certificate.Blob();
        std::vector<WCHAR> pin(kPin.size() + 1);
        const bool converted = MultiByteToWideChar(CP_ACP, 0, kPin.c_str(), -1, pin.data(),
                                                   static_cast<int>(pin.size())) != 0;
        const UniqueCertStore store(PFXImportCertStore(&blob, pin.data(), CRYPT_EXPORTABLE));
        return converted && store != nullptr;
    }));
}

int ImportInChild(const char* path) {
    CByteBuffer certificate;
    if (OpenSoftCertificate(path, certificate) != Outcome::Accepted || !PrepareChangePin()) {
        return 1;
    }
    return ReportFromChild(Measure([&] {
        CRYPT_DATA_BLOB blob = *certificate.Blob();
        const UniqueCertStore store(PFXImportCertStore(&blob, u"PIN", CRYPT_EXPORTABLE));
        return store != nullptr;
    }));
}

// One key derivation the file asks for, with its parameters (the salt's bytes do not matter).
struct Derivation {
    enum Kind { Mac, Pbkdf2, Pkcs12Pbe } kind = Mac;
    int iterations = 1;
    int saltLength = 8;
    const EVP_MD* digest = nullptr;
    int keyLength = 0;  // PBKDF2 and the PKCS#12 schemes' key
    int ivLength = 0;   // the PKCS#12 schemes' IV, derived separately
};

Derivation FromParams(const pbe::Params& params) {
    Derivation d;
    d.iterations = static_cast<int>(params.iterations);
    d.saltLength = params.saltLength;
    int digestNid = 0, cipherNid = params.cipherNid;
    if (params.scheme == pbe::Scheme::Pbkdf2) {
        d.kind = Derivation::Pbkdf2;
        EVP_PBE_find(EVP_PBE_TYPE_PRF, params.prfNid, nullptr, &digestNid, nullptr);
    } else if (params.scheme == pbe::Scheme::PbeParam) {
        d.kind = Derivation::Pkcs12Pbe;
        EVP_PBE_find(EVP_PBE_TYPE_OUTER, params.algorithmNid, &cipherNid, &digestNid, nullptr);
    } else {
        throw std::runtime_error("scrypt is not among the benchmark's files");
    }
    const EVP_CIPHER* cipher = EVP_get_cipherbynid(cipherNid);
    d.digest = EVP_get_digestbynid(digestNid);
    if (cipher == nullptr || d.digest == nullptr) {
        throw std::runtime_error("unknown algorithm");
    }
    d.keyLength = params.keyLength > 0 ? params.keyLength : EVP_CIPHER_get_key_length(cipher);
    d.ivLength = d.kind == Derivation::Pkcs12Pbe ? EVP_CIPHER_get_iv_length(cipher) : 0;
    return d;
}

std::vector<Derivation> DerivationsOf(const std::string& bytes) {
    std::vector<Derivation> derivations;
    const auto* cursor = reinterpret_cast<const unsigned char*>(bytes.data());
    PKCS12* p12 = d2i_PKCS12(nullptr, &cursor, static_cast<long>(bytes.size()));
    if (p12 == nullptr) {
        throw std::runtime_error("no PKCS#12 file");
    }
    if (PKCS12_mac_present(p12)) {
        const X509_ALGOR* digest = nullptr;
        const ASN1_OCTET_STRING* salt = nullptr;
        const ASN1_INTEGER* iterations = nullptr;
        PKCS12_get0_mac(nullptr, &digest, &salt, &iterations, p12);
        Derivation mac;
        mac.iterations = iterations != nullptr ? static_cast<int>(ASN1_INTEGER_get(iterations)) : 1;
        mac.saltLength = ASN1_STRING_length(salt);
        mac.digest = EVP_get_digestbynid(OBJ_obj2nid(digest->algorithm));
        mac.keyLength = EVP_MD_get_size(mac.digest);
        derivations.push_back(mac);
    }
    const auto add = [&](const X509_ALGOR* algorithm) {
        const std::optional<pbe::Params> params = pbe::Read(algorithm);
        if (!params) {
            throw std::runtime_error("unreadable protection");
        }
        derivations.push_back(FromParams(*params));
    };
    STACK_OF(PKCS7)* safes = PKCS12_unpack_authsafes(p12);
    for (int i = 0; i < sk_PKCS7_num(safes); ++i) {
        PKCS7* safe = sk_PKCS7_value(safes, i);
        STACK_OF(PKCS12_SAFEBAG)* bags = nullptr;
        if (OBJ_obj2nid(safe->type) == NID_pkcs7_encrypted) {
            add(safe->d.encrypted->enc_data->algorithm);
            bags = PKCS12_unpack_p7encdata(safe, kPin.c_str(), -1);
        } else {
            bags = PKCS12_unpack_p7data(safe);
        }
        for (int j = 0; j < sk_PKCS12_SAFEBAG_num(bags); ++j) {
            const PKCS12_SAFEBAG* bag = sk_PKCS12_SAFEBAG_value(bags, j);
            if (PKCS12_SAFEBAG_get_nid(bag) == NID_pkcs8ShroudedKeyBag) {
                const X509_ALGOR* algorithm = nullptr;
                X509_SIG_get0(PKCS12_SAFEBAG_get0_pkcs8(bag), &algorithm, nullptr);
                add(algorithm);
            }
        }
        sk_PKCS12_SAFEBAG_pop_free(bags, PKCS12_SAFEBAG_free);
    }
    sk_PKCS7_pop_free(safes, PKCS7_free);
    PKCS12_free(p12);
    return derivations;
}

bool Derive(const Derivation& d, int iterations) {
    unsigned char salt[64] = {}, out[128];
    const int saltLength = std::min(d.saltLength, 64);
    const char* pin = kPin.c_str();
    switch (d.kind) {
        case Derivation::Mac:
            return PKCS12_key_gen_utf8(pin, -1, salt, saltLength, PKCS12_MAC_ID, iterations,
                                       d.keyLength, out, d.digest) == 1;
        case Derivation::Pbkdf2:
            return PKCS5_PBKDF2_HMAC(pin, -1, salt, saltLength, iterations, d.digest, d.keyLength,
                                     out) == 1;
        case Derivation::Pkcs12Pbe:
            return PKCS12_key_gen_utf8(pin, -1, salt, saltLength, PKCS12_KEY_ID, iterations,
                                       d.keyLength, out, d.digest) == 1 &&
                   (d.ivLength == 0 ||
                    PKCS12_key_gen_utf8(pin, -1, salt, saltLength, PKCS12_IV_ID, iterations,
                                        d.ivLength, out, d.digest) == 1);
    }
    return false;
}

// `own`: the derivations as the tool makes them: its OpenSSL memory functions, which wipe
// every block freed, and its library context, whose provider derives PBKDF2 and the PKCS#12
// KDF for the SHA digests without OpenSSL 3.0's allocations at every iteration. Otherwise
// OpenSSL's own, in its default context.
int FloorInChild(const char* path, bool own) {
    if ((own && !WipeOpensslMemoryOnRelease()) || !testing_support::LoadLegacyProviders()) {
        return 1;
    }
    std::optional<ossl::ScopedContext> context;
    if (own) {
        context.emplace();
        if (!context->ok() || !ossl::WarmUp()) {
            return 1;
        }
    }
    const std::vector<Derivation> derivations = DerivationsOf(testing_support::ReadAll(path));
    // The floor's own set-up, once, outside the measurement, as the change's is.
    for (const Derivation& d : derivations) {
        Derive(d, 1);
    }
    return ReportFromChild(Measure([&] {
        bool ok = true;
        for (int pass = 0; pass < 3; ++pass) {
            for (const Derivation& d : derivations) {
                ok = Derive(d, d.iterations) && ok;
            }
        }
        return ok;
    }));
}

// ---- the driver

std::string g_self;

Times RunChild(const std::string& mode, const std::string& path) {
    const auto result = testing_support::Run(testing_support::Quote(g_self) + " " + mode + " " +
                                             testing_support::Quote(path));
    const auto at = result.output.find("RESULT ");
    Times times;
    if (result.status != 0 || at == std::string::npos ||
        std::sscanf(result.output.c_str() + at, "RESULT %lf %lf", &times.wall, &times.cpu) != 2) {
        throw std::runtime_error(mode + " " + path + " failed: " + result.output);
    }
    return times;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

struct Case {
    std::string name;
    std::string path;
    std::string mode = "change";  // or "cold", "import"
    bool withFloor = true;
};

struct Row {
    Times change, floor, ownFloor;
    double wallRatio = 0, cpuRatio = 0;
    double ownWallRatio = 0, ownCpuRatio = 0;  // to the floor of the tool's own derivations
};

Row RunCase(const Case& c, int rounds) {
    const std::string original = testing_support::ReadAll(c.path);
    std::vector<double> wall, cpu, floorWall, floorCpu, ownCpu, wallRatios, cpuRatios, ownWall,
        ownCpuRatios;
    for (int round = 0; round < rounds; ++round) {
        testing_support::WriteAll(c.path, original);  // each change begins from the old PIN
        const Times change = RunChild(c.mode, c.path);
        wall.push_back(change.wall);
        cpu.push_back(change.cpu);
        if (c.withFloor) {
            const Times floor = RunChild("floor", c.path);
            floorWall.push_back(floor.wall);
            floorCpu.push_back(floor.cpu);
            wallRatios.push_back(change.wall / floor.wall);
            cpuRatios.push_back(change.cpu / floor.cpu);
            const Times own = RunChild("ownfloor", c.path);
            ownCpu.push_back(own.cpu);
            ownWall.push_back(change.wall / own.wall);
            ownCpuRatios.push_back(change.cpu / own.cpu);
        }
    }
    testing_support::WriteAll(c.path, original);
    Row row;
    row.change = {Median(wall), Median(cpu)};
    if (c.withFloor) {
        row.floor = {Median(floorWall), Median(floorCpu)};
        row.wallRatio = Median(wallRatios);
        row.cpuRatio = Median(cpuRatios);
        row.ownFloor = {0, Median(ownCpu)};
        row.ownWallRatio = Median(ownWall);
        row.ownCpuRatio = Median(ownCpuRatios);
    }
    return row;
}

std::string MakeWithOpenssl(const TempDir& dir, const std::string& name,
                            const std::string& options) {
    const Fixtures& fixtures = Fixtures::Get();
    const std::string out = dir / name;
    const auto made = testing_support::Run(
        "openssl pkcs12 -export -inkey " + fixtures.Path("leaf.key") + " -in " +
        fixtures.Path("leaf.pem") + " -certfile " + fixtures.Path("chain.pem") +
        " -name 'Max Mustermann' -passout file:" + fixtures.Path("pin.txt") + " -out " + out + " " +
        options);
    if (made.status != 0) {
        throw std::runtime_error("openssl: " + made.output);
    }
    return out;
}

std::vector<Case> MakeCases(const TempDir& dir) {
    const auto copy = [&](const std::string& fixture) {
        return Fixtures::Get().CopyTo(fixture, dir);
    };
    std::vector<Case> cases = {
        {"modern (PBES2 AES-256, SHA-256 MAC, 2048)", copy("modern.p12")},
        {"modern, OpenSSL not set up ahead", dir / "cold.p12", "cold"},
        {"modern, on one thread", dir / "serial.p12", "serial"},
        {"legacy (RC2-40, 3DES, SHA-1 MAC)", copy("legacy.p12")},
        {"Windows-style (PBES2 AES-256, SHA-256 MAC, 2000)",
         MakeWithOpenssl(dir, "windows.p12", "-iter 2000 -macalg sha256")},
        {"heavy (600,000 iterations, SHA-512 MAC)",
         MakeWithOpenssl(dir, "heavy.p12", "-iter 600000 -macalg sha512")},
    };
    testing_support::WriteAll(dir / "cold.p12", Fixtures::Get().Bytes("modern.p12"));
    testing_support::WriteAll(dir / "serial.p12", Fixtures::Get().Bytes("modern.p12"));
    for (const int count : {1, 10, 100, 1000}) {
        const std::string path = dir / ("certificates-" + std::to_string(count) + ".p12");
        testing_support::BuildManyCertificates(path, kPin, count);
        cases.push_back({std::to_string(count) + " certificate(s)", path});
    }
    for (const int count : {10, 50}) {
        const std::string path = dir / ("keys-" + std::to_string(count) + ".p12");
        testing_support::BuildManyKeys(path, kPin, count, false);
        cases.push_back({std::to_string(count) + " keys", path});
    }
    for (const int count : {10'000, 100'000}) {
        const std::string path = dir / ("bags-" + std::to_string(count) + ".p12");
        testing_support::WriteAll(path, testing_support::BuildManyBags(count, 0, kPin));
        cases.push_back(
            {"import alone, " + std::to_string(count) + " tiny bags", path, "import", false});
    }
    return cases;
}

void PrintRow(const Case& c, const Row& row) {
    std::printf("%-50s %9.2f %9.2f", c.name.c_str(), row.change.wall / 1000, row.change.cpu / 1000);
    if (c.withFloor) {
        std::printf(" %9.2f %9.2f %7.2f %7.2f %9.2f %7.2f %7.2f", row.floor.wall / 1000,
                    row.floor.cpu / 1000, row.wallRatio, row.cpuRatio, row.ownFloor.cpu / 1000,
                    row.ownWallRatio, row.ownCpuRatio);
    }
    std::printf("\n");
    std::fflush(stdout);
}

int Drive(int rounds, const std::string& filter) {
    const TempDir dir;
    std::vector<Case> cases = MakeCases(dir);
    std::erase_if(cases, [&](const Case& c) { return c.name.find(filter) == std::string::npos; });
    std::printf("%d rounds, medians; %u threads; times in ms\n", rounds, parallel::ThreadCount());
    std::printf("%-50s %9s %9s %9s %9s %7s %7s %9s %7s %7s\n", "case", "wall", "CPU", "floor",
                "floor", "wall", "CPU", "own floor", "wall", "CPU");
    std::printf("%-50s %9s %9s %9s %9s %7s %7s %9s %7s %7s\n", "", "", "", "wall", "CPU", "ratio",
                "ratio", "CPU", "ratio", "ratio");
    std::vector<Row> rows;
    for (const Case& c : cases) {
        rows.push_back(RunCase(c, rounds));
        PrintRow(c, rows.back());
    }
    // Beyond the derivations, per certificate and per key: what the change costs over the
    // floor of its own derivations.
    const auto beyond = [&](size_t index) {
        return rows[index].change.cpu - rows[index].ownFloor.cpu;
    };
    const auto find = [&](const std::string& name) {
        return static_cast<size_t>(std::find_if(cases.begin(), cases.end(),
                                                [&](const Case& c) { return c.name == name; }) -
                                   cases.begin());
    };
    const auto both = [&](size_t first, size_t second) {
        return first < cases.size() && second < cases.size();
    };
    const size_t one = find("1 certificate(s)"), thousand = find("1000 certificate(s)");
    if (both(one, thousand)) {
        std::printf("beyond the derivations: %.1f us CPU per certificate (1 to 1000)\n",
                    (beyond(thousand) - beyond(one)) / 999);
    }
    const size_t ten = find("10 keys"), fifty = find("50 keys");
    if (both(ten, fifty)) {
        std::printf("beyond the derivations: %.1f us CPU per key (10 to 50)\n",
                    (beyond(fifty) - beyond(ten)) / 40);
    }
    const size_t small = find("import alone, 10000 tiny bags"),
                 large = find("import alone, 100000 tiny bags");
    if (both(small, large)) {
        std::printf("import alone: %.2f us CPU per bag (10,000 to 100,000)\n",
                    (rows[large].change.cpu - rows[small].change.cpu) / 90'000);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        char self[4096] = {};
        g_self = readlink("/proc/self/exe", self, sizeof self - 1) > 0 ? self : argv[0];
        if (argc == 3 && std::atoi(argv[1]) == 0) {
            const std::string mode = argv[1];
            if (mode == "change" || mode == "cold") {
                return ChangeInChild(argv[2], mode == "change");
            }
            if (mode == "serial") {
                const engine_switches::ScopedThreadCount oneThread(1);
                return ChangeInChild(argv[2], true);
            }
            if (mode == "floor" || mode == "ownfloor") {
                return FloorInChild(argv[2], mode == "ownfloor");
            }
            if (mode == "import") {
                return ImportInChild(argv[2]);
            }
            if (mode == "open" || mode == "wrong") {
                return OpenOrMistypeInChild(argv[2], mode == "wrong");
            }
        }
        if (argc <= 2 || (argc == 3 && std::atoi(argv[1]) > 0)) {
            return Drive(argc >= 2 ? std::max(1, std::atoi(argv[1])) : 5, argc == 3 ? argv[2] : "");
        }
        std::fprintf(stderr, "usage: %s [ROUNDS]\n", argv[0]);
        return 2;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "change_pin_bench: %s\n", error.what());
        return 1;
    }
}
