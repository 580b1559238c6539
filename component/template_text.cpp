#include "component/template_text.h"

#include <cstring>

#include "engine/result_codes.h"

namespace vorsensor {
namespace {

constexpr char kDigits[] = "0123456789ABCDEF";
constexpr size_t kScanWidth = 2;  // characters one scan may take, sign included

bool IsScanSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// One "%02X" scan starting at `start`; false when nothing can be scanned.
bool ScanHexByte(std::string_view text, size_t start, uint8_t* value) {
  size_t i = start;
  const auto at = [&text](size_t k) { return k < text.size() ? text[k] : '\0'; };
  while (IsScanSpace(at(i))) ++i;
  const size_t end = i + kScanWidth;  // width counts from the first non-space
  bool negative = false;
  if (at(i) == '+' || at(i) == '-') {
    negative = at(i) == '-';
    ++i;
  }
  // "0x" fills the width with a prefix that no digit can follow.
  if (i + 2 <= end && at(i) == '0' && (at(i + 1) == 'x' || at(i + 1) == 'X')) return false;
  unsigned number = 0;
  size_t digits = 0;
  while (i < end && HexValue(at(i)) >= 0) {
    number = number * 16 + static_cast<unsigned>(HexValue(at(i)));
    ++i;
    ++digits;
  }
  if (digits == 0) return false;
  *value = static_cast<uint8_t>(negative ? 0u - number : number);
  return true;
}

}  // namespace

int32_t EncodeTemplateText(const uint8_t* bytes, int32_t count, char* text, size_t capacity) {
  if (text == nullptr) return kMissingArgument;
  std::memset(text, 0, capacity);
  if (count < 1) return 0;
  if (bytes == nullptr) return kMissingArgument;
  if (2 * static_cast<size_t>(count) + 1 > capacity) return kOutOfRange;
  for (int32_t i = 0; i < count; ++i) {
    text[2 * i] = kDigits[bytes[i] >> 4];
    text[2 * i + 1] = kDigits[bytes[i] & 0x0F];
  }
  return 2 * count;
}

int32_t DecodeTemplateText(std::string_view text, uint8_t* buffer, size_t capacity) {
  if (buffer == nullptr) return kMissingArgument;
  std::memset(buffer, 0, capacity);
  const size_t count = text.size() / 2;
  if (count > capacity) return kOutOfRange;
  uint8_t last = 0;
  for (size_t i = 0; i < count; ++i) {
    ScanHexByte(text, 2 * i, &last);
    buffer[i] = last;
  }
  return static_cast<int32_t>(count);
}

}  // namespace vorsensor
