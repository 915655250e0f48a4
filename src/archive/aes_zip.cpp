#include "archive/aes_zip.hpp"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/params.h>
#include <openssl/rand.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <utility>

namespace sejfko::aeszip {

namespace {

constexpr size_t BlockSize = 16;
// Counter blocks encrypted per call: large enough that AES runs pipelined, small enough for the
// stack.
constexpr size_t KeystreamBlocks = 256;

// Fetched once per process; the objects are read-only and shared by every thread.
EVP_CIPHER* Aes(uint8_t strength) {
    static EVP_CIPHER* const aes128 = EVP_CIPHER_fetch(nullptr, "AES-128-ECB", nullptr);
    static EVP_CIPHER* const aes192 = EVP_CIPHER_fetch(nullptr, "AES-192-ECB", nullptr);
    static EVP_CIPHER* const aes256 = EVP_CIPHER_fetch(nullptr, "AES-256-ECB", nullptr);
    switch (strength) {
        case 1:
            return aes128;
        case 2:
            return aes192;
        case 3:
            return aes256;
        default:
            return nullptr;
    }
}

const EVP_MD* Sha1() {
    static EVP_MD* const sha1 = EVP_MD_fetch(nullptr, "SHA1", nullptr);
    return sha1;
}

struct TFreeDigest {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using TDigest = std::unique_ptr<EVP_MD_CTX, TFreeDigest>;

// PBKDF2 with HMAC-SHA1. OpenSSL's own costs twice as much here: it sets up its HMAC afresh for
// every iteration, while this keeps the states after the padded key blocks and only copies them,
// and a key is derived for every entry of an archive (a tree of small files is mostly that).
// Checked against PKCS5_PBKDF2_HMAC by the tests.
class TPbkdf2Sha1 {
public:
    static constexpr size_t DigestSize = 20;
    static constexpr size_t PadSize = 64;

    bool Derive(const std::string& password, const uint8_t* salt, size_t saltSize, uint8_t* out,
                size_t length) {
        const EVP_MD* sha1 = Sha1();
        if (sha1 == nullptr || !FInner || !FOuter || !FWork || saltSize > 64) {
            return false;
        }
        uint8_t key[PadSize] = {};
        unsigned hashed = 0;
        if (password.size() > PadSize) {
            if (EVP_Digest(password.data(), password.size(), key, &hashed, sha1, nullptr) != 1) {
                return false;
            }
        } else {
            std::memcpy(key, password.data(), password.size());
        }
        uint8_t pad[PadSize];
        bool ok = true;
        for (const auto& [context, mask] : {std::pair{FInner.get(), 0x36}, {FOuter.get(), 0x5c}}) {
            for (size_t i = 0; i < PadSize; ++i) {
                pad[i] = static_cast<uint8_t>(key[i] ^ mask);
            }
            ok = ok && EVP_DigestInit_ex2(context, sha1, nullptr) == 1 &&
                 EVP_DigestUpdate(context, pad, PadSize) == 1;
        }
        OPENSSL_cleanse(key, sizeof key);
        OPENSSL_cleanse(pad, sizeof pad);
        uint8_t first[64 + 4];
        std::memcpy(first, salt, saltSize);
        uint8_t u[DigestSize];
        uint8_t t[DigestSize];
        for (uint32_t block = 1; ok && length > 0; ++block) {
            for (size_t i = 0; i < 4; ++i) {
                first[saltSize + i] = static_cast<uint8_t>(block >> (24 - 8 * i));
            }
            ok = Hmac(first, saltSize + 4, u);
            std::memcpy(t, u, DigestSize);
            for (unsigned round = 1; ok && round < Iterations; ++round) {
                ok = Hmac(u, DigestSize, u);
                for (size_t i = 0; i < DigestSize; ++i) {
                    t[i] ^= u[i];
                }
            }
            const size_t take = std::min(length, DigestSize);
            std::memcpy(out, t, take);
            out += take;
            length -= take;
        }
        OPENSSL_cleanse(u, sizeof u);
        OPENSSL_cleanse(t, sizeof t);
        return ok;
    }

private:
    bool Hmac(const uint8_t* message, size_t size, uint8_t* out) {
        uint8_t inner[DigestSize];
        return EVP_MD_CTX_copy_ex(FWork.get(), FInner.get()) == 1 &&
               EVP_DigestUpdate(FWork.get(), message, size) == 1 &&
               EVP_DigestFinal_ex(FWork.get(), inner, nullptr) == 1 &&
               EVP_MD_CTX_copy_ex(FWork.get(), FOuter.get()) == 1 &&
               EVP_DigestUpdate(FWork.get(), inner, DigestSize) == 1 &&
               EVP_DigestFinal_ex(FWork.get(), out, nullptr) == 1;
    }

    TDigest FInner{EVP_MD_CTX_new()};
    TDigest FOuter{EVP_MD_CTX_new()};
    TDigest FWork{EVP_MD_CTX_new()};
};

EVP_MAC* Hmac() {
    static EVP_MAC* const mac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
    return mac;
}

// Block `index` of the counter sequence: index + 1, little-endian over the 16 bytes.
void CounterBlock(uint64_t index, uint8_t* block) {
    const uint64_t value = index + 1;
    for (size_t i = 0; i < 8; ++i) {
        block[i] = static_cast<uint8_t>(value >> (8 * i));
    }
    std::memset(block + 8, 0, 8);
}

}  // namespace

bool EncryptionAvailable() {
    return true;
}

size_t SaltSize(uint8_t strength) {
    return strength >= 1 && strength <= 3 ? 4u + 4u * strength : 0;
}

size_t KeySize(uint8_t strength) {
    return strength >= 1 && strength <= 3 ? 8u + 8u * strength : 0;
}

TAesKeys::~TAesKeys() {
    OPENSSL_cleanse(Encryption, sizeof Encryption);
    OPENSSL_cleanse(Authentication, sizeof Authentication);
}

bool RandomSalt(uint8_t* salt, size_t size) {
    return size <= INT_MAX && RAND_bytes(salt, static_cast<int>(size)) == 1;
}

bool DeriveKeys(const std::string& password, const uint8_t* salt, uint8_t strength,
                TAesKeys& keys) {
    const size_t keySize = KeySize(strength);
    if (keySize == 0 || password.size() > INT_MAX) {
        return false;
    }
    uint8_t material[2 * MaxKeySize + VerifierSize];
    const size_t length = 2 * keySize + VerifierSize;
    TPbkdf2Sha1 pbkdf2;
    if (!pbkdf2.Derive(password, salt, SaltSize(strength), material, length)) {
        return false;
    }
    keys.Strength = strength;
    std::memcpy(keys.Encryption, material, keySize);
    std::memcpy(keys.Authentication, material + keySize, keySize);
    std::memcpy(keys.Verifier, material + 2 * keySize, VerifierSize);
    OPENSSL_cleanse(material, sizeof material);
    return true;
}

TAesCipher::TAesCipher() : FCipher(EVP_CIPHER_CTX_new()) {
    if (Hmac() != nullptr) {
        FMac = EVP_MAC_CTX_new(Hmac());
    }
}

TAesCipher::~TAesCipher() {
    EVP_CIPHER_CTX_free(FCipher);
    EVP_MAC_CTX_free(FMac);
}

bool TAesCipher::Start(const TAesKeys& keys) {
    EVP_CIPHER* aes = Aes(keys.Strength);
    if (FCipher == nullptr || FMac == nullptr || aes == nullptr) {
        return false;
    }
    if (EVP_EncryptInit_ex2(FCipher, aes, keys.Encryption, nullptr, nullptr) != 1 ||
        EVP_CIPHER_CTX_set_padding(FCipher, 0) != 1) {
        return false;
    }
    char digest[] = "SHA1";
    const OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
                                 OSSL_PARAM_construct_end()};
    return EVP_MAC_init(FMac, keys.Authentication, KeySize(keys.Strength), params) == 1;
}

bool TAesCipher::Crypt(uint8_t* data, size_t size, uint64_t offset) {
    uint8_t counters[KeystreamBlocks * BlockSize];
    uint8_t stream[KeystreamBlocks * BlockSize];
    while (size > 0) {
        const uint64_t first = offset / BlockSize;
        const size_t skip = static_cast<size_t>(offset % BlockSize);
        const size_t blocks = std::min(KeystreamBlocks, (skip + size + BlockSize - 1) / BlockSize);
        for (size_t i = 0; i < blocks; ++i) {
            CounterBlock(first + i, counters + i * BlockSize);
        }
        int produced = 0;
        if (EVP_EncryptUpdate(FCipher, stream, &produced, counters,
                              static_cast<int>(blocks * BlockSize)) != 1 ||
            static_cast<size_t>(produced) != blocks * BlockSize) {
            return false;
        }
        const size_t take = std::min(size, blocks * BlockSize - skip);
        for (size_t i = 0; i < take; ++i) {
            data[i] ^= stream[skip + i];
        }
        data += take;
        size -= take;
        offset += take;
    }
    OPENSSL_cleanse(stream, sizeof stream);
    return true;
}

bool TAesCipher::Authenticate(const uint8_t* data, size_t size) {
    return size == 0 || EVP_MAC_update(FMac, data, size) == 1;
}

bool TAesCipher::FinishMac(uint8_t* mac) {
    uint8_t full[EVP_MAX_MD_SIZE];
    size_t length = 0;
    if (EVP_MAC_final(FMac, full, &length, sizeof full) != 1 || length < MacSize) {
        return false;
    }
    std::memcpy(mac, full, MacSize);
    return true;
}

bool SameMac(const uint8_t* a, const uint8_t* b) {
    return CRYPTO_memcmp(a, b, MacSize) == 0;
}

}  // namespace sejfko::aeszip
