#include "services/aes.h"

#include <cstring>

namespace vorsensor {
namespace {

constexpr uint8_t kReductionPolynomial = 0x1B;  // x^8 + x^4 + x^3 + x + 1 without x^8
constexpr uint8_t kAffineConstant = 0x63;
constexpr int32_t kBitsPerWord = 32;
constexpr int32_t kBlockWords = 4;
constexpr int32_t kRoundsOverKeyWords = 6;      // rounds = key words + 6
constexpr int32_t kLongKeyWords = 6;            // keys longer than this get an extra SubWord

constexpr uint8_t Times2(uint8_t a) {
  return static_cast<uint8_t>((a << 1) ^ ((a & 0x80) != 0 ? kReductionPolynomial : 0));
}

constexpr uint8_t Multiply(uint8_t a, uint8_t b) {
  uint8_t product = 0;
  while (b != 0) {
    if ((b & 1) != 0) product = static_cast<uint8_t>(product ^ a);
    a = Times2(a);
    b = static_cast<uint8_t>(b >> 1);
  }
  return product;
}

constexpr uint8_t RotateByteLeft(uint8_t v, int n) {
  return static_cast<uint8_t>((v << n) | (v >> (8 - n)));
}

constexpr uint32_t RotateWordRight8(uint32_t v) { return (v >> 8) | (v << 24); }

constexpr uint32_t Pack(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3) {
  return static_cast<uint32_t>(b0) << 24 | static_cast<uint32_t>(b1) << 16 |
         static_cast<uint32_t>(b2) << 8 | b3;
}

struct AesTables {
  uint8_t sbox[256];
  uint8_t inverseSbox[256];
  uint32_t encrypt[4][256];  // encrypt[k] is encrypt[0] rotated right by 8k bits
  uint32_t decrypt[4][256];
};

// The S-box from inverses in GF(2^8) (through powers of the generator 3) and
// the affine map, then the round tables from it.
constexpr AesTables MakeTables() {
  AesTables t{};
  uint8_t power[255] = {};
  uint8_t logarithm[256] = {};
  uint8_t p = 1;
  for (int i = 0; i < 255; ++i) {
    power[i] = p;
    logarithm[p] = static_cast<uint8_t>(i);
    p = static_cast<uint8_t>(p ^ Times2(p));  // times 3
  }
  for (int x = 0; x < 256; ++x) {
    const uint8_t inverse = x == 0 ? 0 : power[(255 - logarithm[x]) % 255];
    const uint8_t s = static_cast<uint8_t>(inverse ^ RotateByteLeft(inverse, 1) ^ RotateByteLeft(inverse, 2) ^
                                           RotateByteLeft(inverse, 3) ^ RotateByteLeft(inverse, 4) ^
                                           kAffineConstant);
    t.sbox[x] = s;
    t.inverseSbox[s] = static_cast<uint8_t>(x);
  }
  for (int x = 0; x < 256; ++x) {
    const uint8_t s = t.sbox[x];
    const uint8_t si = t.inverseSbox[x];
    t.encrypt[0][x] = Pack(Multiply(s, 2), s, s, Multiply(s, 3));
    t.decrypt[0][x] = Pack(Multiply(si, 14), Multiply(si, 9), Multiply(si, 13), Multiply(si, 11));
    for (int k = 1; k < 4; ++k) {
      t.encrypt[k][x] = RotateWordRight8(t.encrypt[k - 1][x]);
      t.decrypt[k][x] = RotateWordRight8(t.decrypt[k - 1][x]);
    }
  }
  return t;
}

constexpr AesTables kTables = MakeTables();

constexpr uint8_t Byte(uint32_t w, int index) { return static_cast<uint8_t>(w >> (24 - 8 * index)); }

uint32_t SubWord(uint32_t w) {
  return Pack(kTables.sbox[Byte(w, 0)], kTables.sbox[Byte(w, 1)], kTables.sbox[Byte(w, 2)],
              kTables.sbox[Byte(w, 3)]);
}

uint32_t InverseMixColumn(uint32_t w) {
  // The decryption tables include the inverse S-box; the S-box cancels it.
  return kTables.decrypt[0][kTables.sbox[Byte(w, 0)]] ^ kTables.decrypt[1][kTables.sbox[Byte(w, 1)]] ^
         kTables.decrypt[2][kTables.sbox[Byte(w, 2)]] ^ kTables.decrypt[3][kTables.sbox[Byte(w, 3)]];
}

uint32_t Load(const uint8_t* p) { return Pack(p[0], p[1], p[2], p[3]); }

void Store(uint32_t w, uint8_t* p) {
  for (int i = 0; i < 4; ++i) p[i] = Byte(w, i);
}

}  // namespace

void ExpandCipherKey(CipherKey* key, int32_t keyBits, const uint8_t* keyBytes) {
  const int32_t keyWords = keyBits / kBitsPerWord;
  const int32_t rounds = keyWords + kRoundsOverKeyWords;
  const int32_t total = kBlockWords * (rounds + 1);
  key->keyBits = keyBits;
  key->rounds = rounds;
  std::memset(key->key, 0, sizeof key->key);
  std::memcpy(key->key, keyBytes, static_cast<size_t>(keyWords) * 4);

  uint32_t* w = key->encryptKeys;
  for (int32_t i = 0; i < keyWords; ++i) w[i] = Load(keyBytes + 4 * i);
  uint8_t roundConstant = 1;
  for (int32_t i = keyWords; i < total; ++i) {
    uint32_t temp = w[i - 1];
    if (i % keyWords == 0) {
      temp = SubWord((temp << 8) | (temp >> 24)) ^ (static_cast<uint32_t>(roundConstant) << 24);
      roundConstant = Times2(roundConstant);
    } else if (keyWords > kLongKeyWords && i % keyWords == 4) {
      temp = SubWord(temp);
    }
    w[i] = w[i - keyWords] ^ temp;
  }

  uint32_t* d = key->decryptKeys;
  for (int32_t round = 0; round <= rounds; ++round) {
    for (int32_t j = 0; j < kBlockWords; ++j) {
      const uint32_t word = w[kBlockWords * (rounds - round) + j];
      d[kBlockWords * round + j] = (round == 0 || round == rounds) ? word : InverseMixColumn(word);
    }
  }
}

void EncryptBlock(const CipherKey& key, const uint8_t* in, uint8_t* out) {
  const uint32_t* rk = key.encryptKeys;
  const auto& te = kTables.encrypt;
  uint32_t s0 = Load(in) ^ rk[0];
  uint32_t s1 = Load(in + 4) ^ rk[1];
  uint32_t s2 = Load(in + 8) ^ rk[2];
  uint32_t s3 = Load(in + 12) ^ rk[3];
  for (int32_t round = 1; round < key.rounds; ++round) {
    rk += kBlockWords;
    const uint32_t t0 = te[0][Byte(s0, 0)] ^ te[1][Byte(s1, 1)] ^ te[2][Byte(s2, 2)] ^ te[3][Byte(s3, 3)] ^ rk[0];
    const uint32_t t1 = te[0][Byte(s1, 0)] ^ te[1][Byte(s2, 1)] ^ te[2][Byte(s3, 2)] ^ te[3][Byte(s0, 3)] ^ rk[1];
    const uint32_t t2 = te[0][Byte(s2, 0)] ^ te[1][Byte(s3, 1)] ^ te[2][Byte(s0, 2)] ^ te[3][Byte(s1, 3)] ^ rk[2];
    const uint32_t t3 = te[0][Byte(s3, 0)] ^ te[1][Byte(s0, 1)] ^ te[2][Byte(s1, 2)] ^ te[3][Byte(s2, 3)] ^ rk[3];
    s0 = t0;
    s1 = t1;
    s2 = t2;
    s3 = t3;
  }
  rk += kBlockWords;
  const uint8_t* s = kTables.sbox;
  Store(Pack(s[Byte(s0, 0)], s[Byte(s1, 1)], s[Byte(s2, 2)], s[Byte(s3, 3)]) ^ rk[0], out);
  Store(Pack(s[Byte(s1, 0)], s[Byte(s2, 1)], s[Byte(s3, 2)], s[Byte(s0, 3)]) ^ rk[1], out + 4);
  Store(Pack(s[Byte(s2, 0)], s[Byte(s3, 1)], s[Byte(s0, 2)], s[Byte(s1, 3)]) ^ rk[2], out + 8);
  Store(Pack(s[Byte(s3, 0)], s[Byte(s0, 1)], s[Byte(s1, 2)], s[Byte(s2, 3)]) ^ rk[3], out + 12);
}

void DecryptBlock(const CipherKey& key, const uint8_t* in, uint8_t* out) {
  const uint32_t* rk = key.decryptKeys;
  const auto& td = kTables.decrypt;
  uint32_t s0 = Load(in) ^ rk[0];
  uint32_t s1 = Load(in + 4) ^ rk[1];
  uint32_t s2 = Load(in + 8) ^ rk[2];
  uint32_t s3 = Load(in + 12) ^ rk[3];
  for (int32_t round = 1; round < key.rounds; ++round) {
    rk += kBlockWords;
    const uint32_t t0 = td[0][Byte(s0, 0)] ^ td[1][Byte(s3, 1)] ^ td[2][Byte(s2, 2)] ^ td[3][Byte(s1, 3)] ^ rk[0];
    const uint32_t t1 = td[0][Byte(s1, 0)] ^ td[1][Byte(s0, 1)] ^ td[2][Byte(s3, 2)] ^ td[3][Byte(s2, 3)] ^ rk[1];
    const uint32_t t2 = td[0][Byte(s2, 0)] ^ td[1][Byte(s1, 1)] ^ td[2][Byte(s0, 2)] ^ td[3][Byte(s3, 3)] ^ rk[2];
    const uint32_t t3 = td[0][Byte(s3, 0)] ^ td[1][Byte(s2, 1)] ^ td[2][Byte(s1, 2)] ^ td[3][Byte(s0, 3)] ^ rk[3];
    s0 = t0;
    s1 = t1;
    s2 = t2;
    s3 = t3;
  }
  rk += kBlockWords;
  const uint8_t* si = kTables.inverseSbox;
  Store(Pack(si[Byte(s0, 0)], si[Byte(s3, 1)], si[Byte(s2, 2)], si[Byte(s1, 3)]) ^ rk[0], out);
  Store(Pack(si[Byte(s1, 0)], si[Byte(s0, 1)], si[Byte(s3, 2)], si[Byte(s2, 3)]) ^ rk[1], out + 4);
  Store(Pack(si[Byte(s2, 0)], si[Byte(s1, 1)], si[Byte(s0, 2)], si[Byte(s3, 3)]) ^ rk[2], out + 8);
  Store(Pack(si[Byte(s3, 0)], si[Byte(s2, 1)], si[Byte(s1, 2)], si[Byte(s0, 3)]) ^ rk[3], out + 12);
}

}  // namespace vorsensor
