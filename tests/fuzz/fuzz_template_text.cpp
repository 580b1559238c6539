// Arbitrary bytes as template text: decode, open with the template key, read
// as a template record. The decoded bytes are also read as a record directly
// (the cipher would otherwise hide almost every structured record), from a
// buffer of exactly their length so that any overread is caught.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "component/template_text.h"
#include "engine/feature_set.h"
#include "engine/template_record.h"
#include "services/template_cipher.h"

using namespace vorsensor;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  uint8_t decoded[kDecodedTemplateBufferSize];
  const int32_t count = DecodeTemplateText(text, decoded, sizeof decoded);
  if (count < 0) {
    if (size / 2 <= sizeof decoded) std::abort();
    return 0;
  }
  if (static_cast<size_t>(count) != size / 2) std::abort();

  // Encoding the decoded bytes and decoding that text gives the same bytes;
  // the text buffer holds at most 1023 bytes with its terminator.
  char again[kTemplateTextBufferSize];
  const int32_t encoded = EncodeTemplateText(decoded, count, again, sizeof again);
  if (2 * static_cast<size_t>(count) + 1 > sizeof again) {
    if (encoded >= 0 || again[0] != '\0') std::abort();
  } else if (count > 0) {
    if (encoded != 2 * count) std::abort();
    uint8_t redecoded[kDecodedTemplateBufferSize];
    if (DecodeTemplateText(again, redecoded, sizeof redecoded) != count) std::abort();
    if (std::memcmp(decoded, redecoded, sizeof decoded) != 0) std::abort();
  }

  auto set = std::make_unique<FeatureSet>();
  uint8_t record[kSealedTemplateBytes];
  if (OpenTemplateRecord(decoded, record) != kSealedTemplateBytes) std::abort();
  const int32_t opened = ReadTemplateRecord(record, sizeof record, set.get());
  if (opened > kSealedTemplateBytes) std::abort();

  const std::vector<uint8_t> exact(decoded, decoded + count);
  const int32_t direct = ReadTemplateRecord(exact.data(), exact.size(), set.get());
  if (direct > count) std::abort();
  return 0;
}
