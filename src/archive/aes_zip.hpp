#pragma once
// AES encryption of zip entries in the AE-2 form (compression method 99, extra field 0x9901),
// shared by the engine that writes it and the reader that checks it. OpenSSL's EVP does the
// work: PBKDF2-HMAC-SHA1 for the keys, AES for the keystream, HMAC-SHA1 for the authentication
// code.
//
// An entry's data is: salt (8, 12 or 16 bytes for AES-128/192/256), a 2-byte password
// verification value, the compressed data encrypted in CTR mode (little-endian 128-bit counter,
// 1 for the first block), then the first 10 bytes of HMAC-SHA1 over the encrypted data. The keys
// come from PBKDF2 over the password and the entry's salt, 1000 iterations: the encryption key,
// the authentication key and the verification value, in this order. With AE-2 the CRC-32 field
// of the headers is 0: the authentication code replaces it.
//
// Names and sizes are not encrypted by this format; only the data is.
//
// Threads: the functions may be called from any thread; a TAesCipher belongs to one thread at a
// time. Nothing here throws: failures of OpenSSL (memory, no random source) return false.

#include <cstddef>
#include <cstdint>
#include <string>

struct evp_cipher_ctx_st;
struct evp_mac_ctx_st;

namespace sejfko::aeszip {

constexpr uint16_t MethodAes = 99;
constexpr uint16_t ExtraId = 0x9901;
constexpr uint16_t ExtraDataSize = 7;
constexpr uint16_t VendorAe2 = 2;
constexpr uint16_t VendorAe1 = 1;
constexpr uint8_t Strength256 = 3;
constexpr size_t VerifierSize = 2;
constexpr size_t MacSize = 10;
constexpr size_t MaxSaltSize = 16;
constexpr size_t MaxKeySize = 32;
constexpr unsigned Iterations = 1000;

// False in a build without the encryption (no OpenSSL for the target): callers refuse first.
bool EncryptionAvailable();

// Salt and key sizes of a strength (1 AES-128, 2 AES-192, 3 AES-256); 0 for any other value.
size_t SaltSize(uint8_t strength);
size_t KeySize(uint8_t strength);

struct TAesKeys {
    uint8_t Strength = 0;
    uint8_t Encryption[MaxKeySize] = {};
    uint8_t Authentication[MaxKeySize] = {};
    uint8_t Verifier[VerifierSize] = {};
    ~TAesKeys();
};

// Fills `salt` with `size` bytes from OpenSSL's cryptographic random source.
bool RandomSalt(uint8_t* salt, size_t size);
// The keys of `password` for an entry with `salt` (SaltSize(strength) bytes).
bool DeriveKeys(const std::string& password, const uint8_t* salt, uint8_t strength, TAesKeys& keys);

// The keystream and the running authentication code of one entry. Start it per entry; Crypt may
// be called for any byte offset in any order (CTR needs no chaining), Authenticate must see the
// encrypted bytes in order.
class TAesCipher {
public:
    TAesCipher();
    ~TAesCipher();
    TAesCipher(const TAesCipher&) = delete;
    TAesCipher& operator=(const TAesCipher&) = delete;

    bool Start(const TAesKeys& keys);
    // XORs the keystream belonging to stream offset `offset` onto `size` bytes of `data`
    // (encrypts and decrypts alike).
    bool Crypt(uint8_t* data, size_t size, uint64_t offset);
    bool Authenticate(const uint8_t* data, size_t size);
    // The first MacSize bytes of the code over everything authenticated since Start.
    bool FinishMac(uint8_t* mac);

private:
    evp_cipher_ctx_st* FCipher = nullptr;
    evp_mac_ctx_st* FMac = nullptr;
};

// Compares two codes in constant time.
bool SameMac(const uint8_t* a, const uint8_t* b);

}  // namespace sejfko::aeszip
