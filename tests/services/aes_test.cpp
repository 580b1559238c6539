#include "services/aes.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/result_codes.h"
#include "services/template_cipher.h"
#include "support/random.h"

namespace vorsensor {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes FromHex(const std::string& hex) {
  Bytes out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

struct KnownAnswer {
  const char* key;
  const char* plain;
  const char* cipher;
};

// FIPS-197 appendix C (and B for the 128-bit key).
const KnownAnswer kKnownAnswers[] = {
    {"000102030405060708090a0b0c0d0e0f", "00112233445566778899aabbccddeeff", "69c4e0d86a7b0430d8cdb78070b4c55a"},
    {"2b7e151628aed2a6abf7158809cf4f3c", "3243f6a8885a308d313198a2e0370734", "3925841d02dc09fbdc118597196a0b32"},
    {"000102030405060708090a0b0c0d0e0f1011121314151617", "00112233445566778899aabbccddeeff",
     "dda97ca4864cdfe06eaf70a0ec0d7191"},
    {"000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f", "00112233445566778899aabbccddeeff",
     "8ea2b7ca516745bfeafc49904b496089"},
};

TEST(AesTest, KnownAnswers) {
  for (const KnownAnswer& v : kKnownAnswers) {
    const Bytes key = FromHex(v.key);
    const Bytes plain = FromHex(v.plain);
    const Bytes cipher = FromHex(v.cipher);
    CipherKey k;
    const int32_t bits = static_cast<int32_t>(key.size() * 8);
    EXPECT_EQ(SetCipherKey(&k, bits, key.data()), bits / 32 + 6);
    Bytes out(16);
    EncryptBlock(k, plain.data(), out.data());
    EXPECT_EQ(out, cipher) << v.key;
    DecryptBlock(k, cipher.data(), out.data());
    EXPECT_EQ(out, plain) << v.key;
  }
}

// The block cipher against OpenSSL's AES-128-ECB (without padding) on random
// keys and blocks, both directions.
TEST(AesTest, MatchesOpenSslOnRandomBlocks) {
  testing::TestRandom random(0xae5);
  std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
  ASSERT_NE(ctx, nullptr);
  for (int trial = 0; trial < 64; ++trial) {
    uint8_t key[16];
    for (uint8_t& b : key) b = random.Byte();
    Bytes plain(16 * 32);
    for (uint8_t& b : plain) b = random.Byte();

    Bytes expected(plain.size() + 16);
    int outLength = 0;
    ASSERT_EQ(EVP_EncryptInit_ex(ctx.get(), EVP_aes_128_ecb(), nullptr, key, nullptr), 1);
    EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
    ASSERT_EQ(EVP_EncryptUpdate(ctx.get(), expected.data(), &outLength, plain.data(), static_cast<int>(plain.size())), 1);
    ASSERT_EQ(outLength, static_cast<int>(plain.size()));
    expected.resize(plain.size());

    CipherKey k;
    SetCipherKey(&k, 128, key);
    Bytes sealed(plain.size());
    ASSERT_EQ(SealTemplate(&k, plain.data(), static_cast<int32_t>(plain.size()), sealed.data()),
              static_cast<int32_t>(plain.size()));
    ASSERT_EQ(sealed, expected) << "trial " << trial;
    Bytes opened(plain.size());
    OpenTemplate(&k, sealed.data(), static_cast<int32_t>(sealed.size()), opened.data());
    ASSERT_EQ(opened, plain) << "trial " << trial;
  }
}

}  // namespace
}  // namespace vorsensor
