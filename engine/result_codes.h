#pragma once
// Result codes shared by the engine, the matcher and the template services.
// Operations return a signed 32-bit value: 0 or more is success (or a count,
// quality, score or length), negative is one of the codes below.
#include <cstdint>

namespace vorsensor {

constexpr int32_t kOk = 0;
constexpr int32_t kOutOfMemory = -2;         // workspace or configuration allocation failed
constexpr int32_t kEngineStopped = -3;       // no configuration given and the engine is not started
constexpr int32_t kMissingArgument = -4;     // a required pointer is null
constexpr int32_t kOutOfRange = -5;          // an argument is outside its range
constexpr int32_t kServiceOutOfMemory = -101;  // template services; resolution out of range in extraction
constexpr int32_t kImageSizeOutOfRange = -102; // normalised image side outside the configured limits
constexpr int32_t kQualityRejected = -103;   // image quality not accepted
// The extraction parameters form a combination the stages cannot run with
// (see CheckExtractionParameters); nothing has been extracted.
constexpr int32_t kInvalidConfiguration = -104;
// A feature set handed to the template merge has more minutiae than its label
// arrays hold (254).
constexpr int32_t kTooManyMinutiaeToMerge = -105;
constexpr int32_t kSampleInUse = -1000;      // the engine's one loaded sample is taken
constexpr int32_t kMalformedRecord = -3000;  // template record bytes do not form a valid record
// The template record writer's output buffer is smaller than the record; the
// writer has written nothing.
constexpr int32_t kRecordOutputTooSmall = -3001;
// The template record ends before its counts, point words, grid code or
// density values are complete; the reader has read nothing beyond the length.
constexpr int32_t kRecordTruncated = -3002;
// The template record's grid width or height byte describes more than 128
// columns or rows, more than a feature set holds.
constexpr int32_t kRecordGridTooLarge = -3003;

// Template cipher codes (they reuse small numbers that mean other things
// elsewhere, so they carry their own names).
constexpr int32_t kCipherKeyInvalid = -2;     // key length not 128, 192 or 256 bits, or no key bytes
constexpr int32_t kCipherKeyMissing = -3;     // no key object, or one that was never set
constexpr int32_t kCipherBufferMissing = -5;  // no input or no output bytes
constexpr int32_t kCipherPartialBlock = -6;   // length not a whole, non-negative number of blocks

}  // namespace vorsensor
