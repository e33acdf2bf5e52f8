#include "tests/support/secret_scan.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <pthread.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>

namespace testing_support {
namespace {

// The test PINs stay in the Basic Multilingual Plane.
std::u16string Utf16FromUtf8(const std::string& utf8) {
    std::u16string units;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        const int extra = lead < 0x80 ? 0 : lead < 0xE0 ? 1 : 2;
        char16_t code = extra == 0 ? lead : extra == 1 ? lead & 0x1F : lead & 0x0F;
        for (int k = 1; k <= extra; ++k) {
            code = static_cast<char16_t>((code << 6) | (utf8[i + k] & 0x3F));
        }
        units += code;
        i += 1 + extra;
    }
    return units;
}

std::string Utf16Bytes(const std::u16string& units, bool bigEndian) {
    std::string bytes;
    for (const char16_t unit : units) {
        const char high = static_cast<char>(unit >> 8), low = static_cast<char>(unit & 0xFF);
        bytes += bigEndian ? high : low;
        bytes += bigEndian ? low : high;
    }
    return bytes;
}

std::string Widened(const std::string& utf8) {
    std::string widened;
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            widened += c;
        } else {
            widened += static_cast<char>(0xC0 | (byte >> 6));
            widened += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return widened;
}

void AddForms(std::vector<Needle>& needles, const std::string& label, const std::string& utf8) {
    const std::u16string units = Utf16FromUtf8(utf8);
    needles.push_back({label + " UTF-8", utf8});
    needles.push_back({label + " UTF-16LE", Utf16Bytes(units, false)});
    needles.push_back({label + " UTF-16BE", Utf16Bytes(units, true)});
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

void AddChunks(std::vector<Needle>& needles, const std::string& name, const std::string& bytes) {
    constexpr std::size_t kChunk = 16;
    for (std::size_t offset = 0; offset + kChunk <= bytes.size(); offset += kChunk) {
        needles.push_back(
            {name + " bytes " + std::to_string(offset), bytes.substr(offset, kChunk)});
    }
}

bool Contains(const void* data, std::size_t length, const Needle& needle) {
    return memmem(data, length, needle.bytes.data(), needle.bytes.size()) != nullptr;
}

}  // namespace

std::vector<Needle> PinForms(const std::string& utf8Pin) {
    std::vector<Needle> needles;
    // Grown in place, it would leave blocks holding short forms in their own storage behind,
    // free and unwiped, for the code under test to be handed.
    needles.reserve(6);
    AddForms(needles, "PIN", utf8Pin);
    if (Widened(utf8Pin) != utf8Pin) {
        AddForms(needles, "widened PIN", Widened(utf8Pin));
    }
    return needles;
}

std::vector<Needle> RsaPrivateParts(const std::string& keyPath) {
    const std::unique_ptr<std::FILE, FileCloser> file(std::fopen(keyPath.c_str(), "r"));
    const std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
        file ? PEM_read_PrivateKey(file.get(), nullptr, nullptr, nullptr) : nullptr, EVP_PKEY_free);
    if (!key) {
        throw std::runtime_error("cannot read the key " + keyPath);
    }
    std::vector<Needle> needles;
    for (const char* part : {OSSL_PKEY_PARAM_RSA_D, OSSL_PKEY_PARAM_RSA_FACTOR1,
                             OSSL_PKEY_PARAM_RSA_FACTOR2, OSSL_PKEY_PARAM_RSA_EXPONENT1,
                             OSSL_PKEY_PARAM_RSA_EXPONENT2, OSSL_PKEY_PARAM_RSA_COEFFICIENT1}) {
        BIGNUM* value = nullptr;
        if (EVP_PKEY_get_bn_param(key.get(), part, &value) != 1) {
            throw std::runtime_error(std::string("no ") + part + " in " + keyPath);
        }
        const std::unique_ptr<BIGNUM, decltype(&BN_clear_free)> owned(value, BN_clear_free);
        std::string big(static_cast<std::size_t>(BN_num_bytes(value)), '\0');
        std::string little = big;
        BN_bn2bin(value, reinterpret_cast<unsigned char*>(big.data()));
        BN_bn2lebinpad(value, reinterpret_cast<unsigned char*>(little.data()),
                       static_cast<int>(little.size()));
        AddChunks(needles, std::string(part) + " big-endian", big);
        AddChunks(needles, std::string(part) + " little-endian", little);
        OPENSSL_cleanse(big.data(), big.size());
        OPENSSL_cleanse(little.data(), little.size());
    }
    return needles;
}

const Needle* FindNeedle(const void* data, std::size_t length, const std::vector<Needle>& needles) {
    for (const Needle& needle : needles) {
        if (Contains(data, length, needle)) {
            return &needle;
        }
    }
    return nullptr;
}

std::vector<std::string> FindNeedles(const std::vector<unsigned char>& bytes,
                                     const std::vector<Needle>& needles) {
    std::vector<std::string> found;
    for (const Needle& needle : needles) {
        if (Contains(bytes.data(), bytes.size(), needle)) {
            found.push_back(needle.name);
        }
    }
    return found;
}

void RunOnStack(std::vector<unsigned char>& stack, const std::function<void()>& body) {
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstack(&attributes, stack.data(), stack.size());
    pthread_t thread;
    const auto start = [](void* argument) -> void* {
        (*static_cast<const std::function<void()>*>(argument))();
        return nullptr;
    };
    const int created =
        pthread_create(&thread, &attributes, start, const_cast<std::function<void()>*>(&body));
    pthread_attr_destroy(&attributes);
    if (created != 0) {
        throw std::runtime_error("cannot start a thread on the test's stack");
    }
    pthread_join(thread, nullptr);
}

}  // namespace testing_support
