#include "services/template_cipher.h"

#include <cstring>

#include "engine/result_codes.h"

namespace vorsensor {
namespace {

bool IsKeyLength(int32_t keyBits) { return keyBits == 128 || keyBits == 192 || keyBits == 256; }

bool IsUsableKey(const CipherKey* key) {
  return key != nullptr && IsKeyLength(key->keyBits) && key->rounds == key->keyBits / 32 + 6;
}

using BlockFunction = void (*)(const CipherKey&, const uint8_t*, uint8_t*);

int32_t RunBlocks(const CipherKey* key, const uint8_t* input, int32_t length, uint8_t* output,
                  BlockFunction block) {
  if (!IsUsableKey(key)) return kCipherKeyMissing;
  if (input == nullptr || output == nullptr) return kCipherBufferMissing;
  if (length < 0 || length % kAesBlockBytes != 0) return kCipherPartialBlock;
  for (int32_t offset = 0; offset < length; offset += kAesBlockBytes) {
    block(*key, input + offset, output + offset);
  }
  return length;
}

void SetTemplateKey(CipherKey* key) { SetCipherKey(key, kTemplateKeyBits, kTemplateKey); }

}  // namespace

int32_t SetCipherKey(CipherKey* key, int32_t keyBits, const uint8_t* keyBytes) {
  if (key == nullptr) return kCipherKeyMissing;
  if (!IsKeyLength(keyBits) || keyBytes == nullptr) return kCipherKeyInvalid;
  ExpandCipherKey(key, keyBits, keyBytes);
  return key->rounds;
}

int32_t SealTemplate(const CipherKey* key, const uint8_t* input, int32_t length, uint8_t* output) {
  return RunBlocks(key, input, length, output, EncryptBlock);
}

int32_t OpenTemplate(const CipherKey* key, const uint8_t* input, int32_t length, uint8_t* output) {
  return RunBlocks(key, input, length, output, DecryptBlock);
}

int32_t SealTemplateRecord(const uint8_t* record, size_t length, uint8_t* sealed) {
  if (record == nullptr || sealed == nullptr) return kMissingArgument;
  if (length > static_cast<size_t>(kSealedTemplateBytes)) return kOutOfRange;
  uint8_t padded[kSealedTemplateBytes] = {};
  std::memcpy(padded, record, length);
  CipherKey key;
  SetTemplateKey(&key);
  SealTemplate(&key, padded, kSealedPartBytes, sealed);
  std::memcpy(sealed + kSealedPartBytes, padded + kSealedPartBytes, kSealedTemplateBytes - kSealedPartBytes);
  return kSealedTemplateBytes;
}

int32_t OpenTemplateRecord(const uint8_t* sealed, uint8_t* record) {
  if (sealed == nullptr || record == nullptr) return kMissingArgument;
  uint8_t opened[kSealedTemplateBytes] = {};
  CipherKey key;
  SetTemplateKey(&key);
  OpenTemplate(&key, sealed, kSealedPartBytes, opened);
  std::memcpy(opened + kSealedPartBytes, sealed + kSealedPartBytes, kSealedTemplateBytes - kSealedPartBytes);
  std::memcpy(record, opened, kSealedTemplateBytes);
  return kSealedTemplateBytes;
}

}  // namespace vorsensor
