#pragma once
// The AES block cipher (FIPS-197) with 128-, 192- and 256-bit keys, table
// driven: four 1 KiB tables per direction fold SubBytes, ShiftRows and
// MixColumns into lookups; decryption uses the equivalent inverse cipher.
#include <cstdint>

namespace vorsensor {

constexpr int32_t kAesBlockBytes = 16;
constexpr int32_t kAesMaxRounds = 14;
constexpr int32_t kAesMaxKeyBytes = 32;
constexpr int32_t kAesMaxRoundKeyWords = 4 * (kAesMaxRounds + 1);

// A key object: the key and both expanded round-key sets.
struct CipherKey {
  int32_t keyBits = 0;  // 128, 192 or 256 once set; 0 before
  int32_t rounds = 0;   // 10, 12 or 14 once set
  uint8_t key[kAesMaxKeyBytes] = {};
  uint32_t encryptKeys[kAesMaxRoundKeyWords] = {};  // round 0 first
  // The encryption round keys in reverse round order, the inner ones passed
  // through InvMixColumns, as the equivalent inverse cipher needs them.
  uint32_t decryptKeys[kAesMaxRoundKeyWords] = {};
};

// Stores `keyBytes` (keyBits / 8 of them; keyBits 128, 192 or 256, checked by
// the caller) and builds both round-key sets.
void ExpandCipherKey(CipherKey* key, int32_t keyBits, const uint8_t* keyBytes);

// One block each; `in` and `out` may be the same block.
void EncryptBlock(const CipherKey& key, const uint8_t* in, uint8_t* out);
void DecryptBlock(const CipherKey& key, const uint8_t* in, uint8_t* out);

}  // namespace vorsensor
