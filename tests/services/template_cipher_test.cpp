#include "services/template_cipher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <vector>

#include "engine/result_codes.h"
#include "support/random.h"

namespace vorsensor {
namespace {

using Record = std::array<uint8_t, kSealedTemplateBytes>;

Record RandomRecord(testing::TestRandom& random) {
  Record r;
  for (uint8_t& b : r) b = random.Byte();
  return r;
}

Record Sealed(const Record& record) {
  Record out{};
  EXPECT_EQ(SealTemplateRecord(record.data(), record.size(), out.data()), kSealedTemplateBytes);
  return out;
}

TEST(TemplateCipherTest, KeySetupCodes) {
  CipherKey key;
  EXPECT_EQ(SetCipherKey(nullptr, 128, kTemplateKey), kCipherKeyMissing);
  EXPECT_EQ(SetCipherKey(&key, 128, nullptr), kCipherKeyInvalid);
  EXPECT_EQ(SetCipherKey(&key, 64, kTemplateKey), kCipherKeyInvalid);
  EXPECT_EQ(SetCipherKey(&key, 129, kTemplateKey), kCipherKeyInvalid);
  EXPECT_EQ(SetCipherKey(&key, 128, kTemplateKey), 10);
  EXPECT_EQ(key.keyBits, 128);
}

TEST(TemplateCipherTest, BlockOperationsRefuseBadArguments) {
  CipherKey unset;
  CipherKey key;
  SetCipherKey(&key, 128, kTemplateKey);
  std::vector<uint8_t> in(32, 1);
  std::vector<uint8_t> out(32, 0xAA);
  for (auto op : {SealTemplate, OpenTemplate}) {
    EXPECT_EQ(op(nullptr, in.data(), 32, out.data()), kCipherKeyMissing);
    EXPECT_EQ(op(&unset, in.data(), 32, out.data()), kCipherKeyMissing);
    EXPECT_EQ(op(&key, in.data(), 32, nullptr), kCipherBufferMissing);
    EXPECT_EQ(op(&key, nullptr, 32, out.data()), kCipherBufferMissing);
    EXPECT_EQ(op(&key, in.data(), 31, out.data()), kCipherPartialBlock);
    EXPECT_EQ(op(&key, in.data(), -16, out.data()), kCipherPartialBlock);
    EXPECT_EQ(out, std::vector<uint8_t>(32, 0xAA));
    EXPECT_EQ(op(&key, in.data(), 0, out.data()), 0);
  }
  // In place: the same bytes as into a separate buffer.
  SealTemplate(&key, in.data(), 32, out.data());
  SealTemplate(&key, in.data(), 32, in.data());
  EXPECT_EQ(in, out);
}

TEST(TemplateCipherTest, SealAndOpenRecords) {
  testing::TestRandom random(0x5ea1);
  const Record record = RandomRecord(random);
  const Record sealed = Sealed(record);
  // The sealed part is AES-128-ECB under the template key; the tail is clear.
  CipherKey key;
  SetCipherKey(&key, kTemplateKeyBits, kTemplateKey);
  Record expected{};
  SealTemplate(&key, record.data(), kSealedPartBytes, expected.data());
  EXPECT_TRUE(std::equal(sealed.begin(), sealed.begin() + kSealedPartBytes, expected.begin()));
  EXPECT_TRUE(std::equal(sealed.begin() + kSealedPartBytes, sealed.end(), record.begin() + kSealedPartBytes));

  Record opened{};
  EXPECT_EQ(OpenTemplateRecord(sealed.data(), opened.data()), kSealedTemplateBytes);
  EXPECT_EQ(opened, record);

  // A short record is zero-padded; it opens into the padded 500 bytes.
  const uint8_t shortRecord[11] = {0, 0, 0x32, 0x48, 0x86, 1, 0, 0xC8, 1, 0, 0};
  Record padded{};
  std::copy(shortRecord, shortRecord + 11, padded.begin());
  Record sealedShort{};
  EXPECT_EQ(SealTemplateRecord(shortRecord, sizeof shortRecord, sealedShort.data()), kSealedTemplateBytes);
  EXPECT_EQ(sealedShort, Sealed(padded));
  EXPECT_EQ(SealTemplateRecord(record.data(), 501, sealedShort.data()), kOutOfRange);
  EXPECT_EQ(SealTemplateRecord(nullptr, 0, sealedShort.data()), kMissingArgument);
  EXPECT_EQ(OpenTemplateRecord(sealed.data(), nullptr), kMissingArgument);
}

}  // namespace
}  // namespace vorsensor
