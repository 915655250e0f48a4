// No OpenSSL for this target: the entry encryption is not in the Windows build. Every step
// fails as the interface allows (false), and the callers name the reason with
// EncryptionUnavailableText before they get here.

#include "archive/aes_zip.hpp"

#include <windows.h>

namespace sejfko::aeszip {

bool EncryptionAvailable() {
    return false;
}

size_t SaltSize(uint8_t strength) {
    return strength >= 1 && strength <= 3 ? 4u + 4u * strength : 0;
}

size_t KeySize(uint8_t strength) {
    return strength >= 1 && strength <= 3 ? 8u + 8u * strength : 0;
}

TAesKeys::~TAesKeys() {
    SecureZeroMemory(Encryption, sizeof Encryption);
    SecureZeroMemory(Authentication, sizeof Authentication);
}

bool RandomSalt(uint8_t*, size_t) {
    return false;
}

bool DeriveKeys(const std::string&, const uint8_t*, uint8_t, TAesKeys&) {
    return false;
}

TAesCipher::TAesCipher() = default;
TAesCipher::~TAesCipher() = default;

bool TAesCipher::Start(const TAesKeys&) {
    return false;
}

bool TAesCipher::Crypt(uint8_t*, size_t, uint64_t) {
    return false;
}

bool TAesCipher::Authenticate(const uint8_t*, size_t) {
    return false;
}

bool TAesCipher::FinishMac(uint8_t*) {
    return false;
}

bool SameMac(const uint8_t* a, const uint8_t* b) {
    uint8_t difference = 0;
    for (size_t index = 0; index < MacSize; ++index) {
        difference |= static_cast<uint8_t>(a[index] ^ b[index]);
    }
    return difference == 0;
}

}  // namespace sejfko::aeszip
