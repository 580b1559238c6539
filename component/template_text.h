#pragma once
// Template text: a sealed template as upper-case hexadecimal digits, two per
// byte, high digit first, with nothing else in the text.
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vorsensor {

constexpr size_t kTemplateTextBufferSize = 2048;  // the component's text buffer
constexpr size_t kDecodedTemplateBufferSize = 1024;

// Zeroes `capacity` bytes at `text`, then writes `count` bytes as two
// upper-case digits each; the text stays zero-terminated. Returns the number
// of characters written (0 when `count` is below 1). kMissingArgument for a
// null `text` (or null `bytes` with a positive count); kOutOfRange, with the
// buffer left empty, when 2 * count + 1 characters do not fit in `capacity`.
int32_t EncodeTemplateText(const uint8_t* bytes, int32_t count, char* text, size_t capacity);

// Zeroes `capacity` bytes at `buffer`, then decodes byte i for i below n / 2
// (n the length of `text`; a trailing odd character is ignored, fewer than two
// characters decode nothing) by scanning one hexadecimal number of at most two
// characters at character 2i, as the C format "%02X" scans it:
//  - white space (space, \t, \n, \v, \f, \r) is skipped first and does not
//    count towards the two characters, so the scan may take characters of the
//    following pairs;
//  - an optional '+' or '-' counts as one of the two characters; a '-' negates
//    the value (the low byte is stored: "-1" gives 0xFF);
//  - digits 0-9, a-f and A-F; one digit followed by anything else gives that
//    digit's value ("5G" gives 0x05);
//  - the scan stops at the end of the text or at a zero character;
//  - nothing is scanned when no digit follows (a lone sign, a non-hex
//    character, the end of the text) and also for "0x" / "0X", which is only
//    the start of a prefixed number that the two characters cannot complete.
// When nothing is scanned, byte i repeats the last scanned value (0 before the
// first). Returns the number of bytes decoded; kMissingArgument for a null
// `buffer`; kOutOfRange, with the buffer left zeroed, when n / 2 exceeds
// `capacity`.
int32_t DecodeTemplateText(std::string_view text, uint8_t* buffer, size_t capacity);

}  // namespace vorsensor
