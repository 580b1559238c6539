#pragma once
// The template cipher: AES in ECB mode under the component's fixed template
// key. A sealed template is 500 bytes: bytes 0..495 of the zero-padded
// template record encrypted as 31 independent blocks, bytes 496..499 in clear.
#include <cstddef>
#include <cstdint>

#include "services/aes.h"

namespace vorsensor {

constexpr int32_t kTemplateKeyBits = 128;
inline constexpr uint8_t kTemplateKey[16] = {0x7d, 0x04, 0xc2, 0xe9, 0xa1, 0x5f, 0x38, 0xb6,
                                             0xd0, 0xe2, 0x47, 0x9c, 0x3b, 0x58, 0xf0, 0x1a};
constexpr int32_t kSealedTemplateBytes = 500;
constexpr int32_t kSealedPartBytes = 496;  // encrypted part; the rest stays in clear

// Sets up `key` for `keyBits` (128, 192 or 256) bits of `keyBytes` and returns
// the number of rounds (10, 12 or 14). kCipherKeyMissing when `key` is null,
// kCipherKeyInvalid for another length or null `keyBytes`.
int32_t SetCipherKey(CipherKey* key, int32_t keyBits, const uint8_t* keyBytes);

// Encrypt / decrypt `length` bytes block by block from `input` to `output`
// (which may be the same buffer) and return `length`. kCipherKeyMissing for a
// null or unset key, kCipherBufferMissing for a null input or output,
// kCipherPartialBlock when `length` is negative or not a multiple of 16; in
// these cases nothing is written.
int32_t SealTemplate(const CipherKey* key, const uint8_t* input, int32_t length, uint8_t* output);
int32_t OpenTemplate(const CipherKey* key, const uint8_t* input, int32_t length, uint8_t* output);

// Seals a template record of `length` bytes (at most 500; zero-padded to 500)
// with the template key into the 500 bytes at `sealed`; returns 500.
// kMissingArgument for a null pointer, kOutOfRange when `length` is above 500.
int32_t SealTemplateRecord(const uint8_t* record, size_t length, uint8_t* sealed);

// Opens the 500-byte sealed template at `sealed` with the template key into the
// 500 bytes at `record`; returns 500, or kMissingArgument for a null pointer.
// Opening never fails otherwise: only the record reader can reject the bytes.
int32_t OpenTemplateRecord(const uint8_t* sealed, uint8_t* record);

}  // namespace vorsensor
