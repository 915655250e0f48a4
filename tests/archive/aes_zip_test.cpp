// The entry cipher: its keystream block by block against OpenSSL's own CTR mode started at that
// block's counter (an independent path through the library), any split of the data into calls at
// any offsets, and the authentication code over split updates.
#include "archive/aes_zip.hpp"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <random>
#include <vector>

namespace sejfko::aeszip {
namespace {

TAesKeys TestKeys() {
    TAesKeys keys;
    const uint8_t salt[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    EXPECT_TRUE(DeriveKeys("heslo", salt, Strength256, keys));
    return keys;
}

// The keystream block `index` as OpenSSL's CTR mode gives it for the counter index + 1 written
// little-endian.
std::vector<uint8_t> ReferenceBlock(const TAesKeys& keys, uint64_t index) {
    uint8_t iv[16] = {};
    for (int i = 0; i < 8; ++i) {
        iv[i] = static_cast<uint8_t>((index + 1) >> (8 * i));
    }
    std::vector<uint8_t> block(16, 0);
    EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
    int length = 0;
    EXPECT_EQ(EVP_EncryptInit_ex(context, EVP_aes_256_ctr(), nullptr, keys.Encryption, iv), 1);
    EXPECT_EQ(EVP_EncryptUpdate(context, block.data(), &length, block.data(), 16), 1);
    EVP_CIPHER_CTX_free(context);
    return block;
}

TEST(AesZip, KeystreamBlocksCountUpLittleEndianFromOne) {
    const TAesKeys keys = TestKeys();
    TAesCipher cipher;
    ASSERT_TRUE(cipher.Start(keys));
    for (const uint64_t index : {0ull, 1ull, 255ull, 256ull, 257ull, 65535ull, 65536ull}) {
        std::vector<uint8_t> block(16, 0);
        ASSERT_TRUE(cipher.Crypt(block.data(), block.size(), index * 16));
        EXPECT_EQ(block, ReferenceBlock(keys, index)) << index;
    }
}

TEST(AesZip, AnySplitGivesTheSameBytesAndTheSameCode) {
    const TAesKeys keys = TestKeys();
    std::mt19937 random(5);
    std::vector<uint8_t> plain(100000);
    for (uint8_t& b : plain) {
        b = static_cast<uint8_t>(random());
    }
    TAesCipher whole;
    ASSERT_TRUE(whole.Start(keys));
    std::vector<uint8_t> expected = plain;
    ASSERT_TRUE(whole.Crypt(expected.data(), expected.size(), 0));
    ASSERT_TRUE(whole.Authenticate(expected.data(), expected.size()));
    uint8_t expectedMac[MacSize];
    ASSERT_TRUE(whole.FinishMac(expectedMac));
    EXPECT_NE(expected, plain);

    for (int round = 0; round < 20; ++round) {
        TAesCipher parts;
        ASSERT_TRUE(parts.Start(keys));
        std::vector<uint8_t> data = plain;
        size_t at = 0;
        while (at < data.size()) {
            const size_t size = std::min<size_t>(data.size() - at, 1 + random() % 9000);
            ASSERT_TRUE(parts.Crypt(data.data() + at, size, at));
            ASSERT_TRUE(parts.Authenticate(data.data() + at, size));
            at += size;
        }
        EXPECT_EQ(data, expected) << round;
        uint8_t mac[MacSize];
        ASSERT_TRUE(parts.FinishMac(mac));
        EXPECT_TRUE(SameMac(mac, expectedMac));
        // Decrypting is the same operation.
        ASSERT_TRUE(parts.Start(keys));
        ASSERT_TRUE(parts.Crypt(data.data(), data.size(), 0));
        EXPECT_EQ(data, plain);
    }
}

// OpenSSL's own PBKDF2 is the oracle, for every strength and passwords around the HMAC block
// size (a longer key is hashed first), empty and Czech ones included.
TEST(AesZip, KeysAreThoseOfOpensslsPbkdf2) {
    std::mt19937 random(9);
    for (const uint8_t strength : {uint8_t{1}, uint8_t{2}, Strength256}) {
        for (const size_t length : {0, 1, 20, 63, 64, 65, 80, 200}) {
            std::string password(length, 'x');
            for (char& c : password) {
                c = static_cast<char>(random());
            }
            if (length == 20) {
                password = "Příliš žluťoučký kůň";
            }
            uint8_t salt[16];
            for (uint8_t& b : salt) {
                b = static_cast<uint8_t>(random());
            }
            const size_t keySize = KeySize(strength);
            std::vector<uint8_t> expected(2 * keySize + 2);
            ASSERT_EQ(PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()), salt,
                                        static_cast<int>(SaltSize(strength)), 1000, EVP_sha1(),
                                        static_cast<int>(expected.size()), expected.data()),
                      1);
            TAesKeys keys;
            ASSERT_TRUE(DeriveKeys(password, salt, strength, keys));
            std::vector<uint8_t> got(keys.Encryption, keys.Encryption + keySize);
            got.insert(got.end(), keys.Authentication, keys.Authentication + keySize);
            got.insert(got.end(), keys.Verifier, keys.Verifier + 2);
            EXPECT_EQ(got, expected) << int(strength) << " " << length;
        }
    }
}

TEST(AesZip, EachSaltGivesOtherKeys) {
    uint8_t salt[16] = {};
    TAesKeys first;
    TAesKeys second;
    ASSERT_TRUE(DeriveKeys("heslo", salt, Strength256, first));
    salt[15] = 1;
    ASSERT_TRUE(DeriveKeys("heslo", salt, Strength256, second));
    EXPECT_NE(std::vector<uint8_t>(first.Encryption, first.Encryption + 32),
              std::vector<uint8_t>(second.Encryption, second.Encryption + 32));
    EXPECT_FALSE(DeriveKeys("heslo", salt, 4, first));
    EXPECT_EQ(SaltSize(1), 8u);
    EXPECT_EQ(SaltSize(2), 12u);
    EXPECT_EQ(SaltSize(3), 16u);
}

}  // namespace
}  // namespace sejfko::aeszip
