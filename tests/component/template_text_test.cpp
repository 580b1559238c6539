#include "component/template_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/result_codes.h"

namespace vorsensor {
namespace {

using Bytes = std::vector<uint8_t>;

// Decodes into a buffer of `capacity` bytes and returns the decoded bytes.
Bytes Decode(std::string_view text, size_t capacity = kDecodedTemplateBufferSize) {
  std::vector<uint8_t> buffer(capacity, 0xEE);
  const int32_t n = DecodeTemplateText(text, buffer.data(), buffer.size());
  EXPECT_GE(n, 0) << text;
  return Bytes(buffer.begin(), buffer.begin() + (n < 0 ? 0 : n));
}

TEST(TemplateTextTest, EncodesUpperCaseDigitsIntoAZeroedBuffer) {
  std::vector<char> text(kTemplateTextBufferSize, 'x');
  const uint8_t bytes[3] = {0x0A, 0xFF, 0x00};
  EXPECT_EQ(EncodeTemplateText(bytes, 3, text.data(), text.size()), 6);
  EXPECT_EQ(std::string(text.data()), "0AFF00");
  EXPECT_EQ(text.back(), '\0');

  EXPECT_EQ(EncodeTemplateText(bytes, 0, text.data(), text.size()), 0);
  EXPECT_EQ(text[0], '\0');
  EXPECT_EQ(EncodeTemplateText(nullptr, -1, text.data(), text.size()), 0);
  EXPECT_EQ(EncodeTemplateText(bytes, 3, nullptr, 16), kMissingArgument);

  // 1023 bytes fill the 2048-byte buffer up to its terminator; 1024 do not fit.
  const Bytes big(1024, 0x5C);
  EXPECT_EQ(EncodeTemplateText(big.data(), 1023, text.data(), text.size()), 2046);
  EXPECT_EQ(text[2045], 'C');
  EXPECT_EQ(text[2046], '\0');
  EXPECT_EQ(EncodeTemplateText(big.data(), 1024, text.data(), text.size()), kOutOfRange);
  EXPECT_EQ(text[0], '\0');
}

TEST(TemplateTextTest, DecodesPairsOfEitherCase) {
  EXPECT_EQ(Decode("0AFF00"), (Bytes{0x0A, 0xFF, 0x00}));
  EXPECT_EQ(Decode("0aff00"), (Bytes{0x0A, 0xFF, 0x00}));
  EXPECT_EQ(Decode("0aff00F"), (Bytes{0x0A, 0xFF, 0x00}));  // odd last character ignored
  EXPECT_EQ(Decode("F"), Bytes{});
  EXPECT_EQ(Decode(""), Bytes{});

  // The whole buffer is zeroed first.
  std::vector<uint8_t> buffer(8, 0xEE);
  EXPECT_EQ(DecodeTemplateText("1234", buffer.data(), buffer.size()), 2);
  EXPECT_EQ(buffer, (Bytes{0x12, 0x34, 0, 0, 0, 0, 0, 0}));
}

TEST(TemplateTextTest, ScansLikePercent02X) {
  // One digit followed by anything else is that digit's value.
  EXPECT_EQ(Decode("5G7!"), (Bytes{0x05, 0x07}));
  // Nothing scannable repeats the last value, 0 before the first.
  EXPECT_EQ(Decode("GG12ZZ..34"), (Bytes{0x00, 0x12, 0x12, 0x12, 0x34}));
  // White space is skipped without counting, so the scan reaches into the next pair.
  EXPECT_EQ(Decode(" 5A7"), (Bytes{0x5A, 0xA7}));
  EXPECT_EQ(Decode("\t\n\r\v\f 12 3"), (Bytes{0x12, 0x12, 0x12, 0x12, 0x03}));
  EXPECT_EQ(Decode("  "), (Bytes{0x00}));
  // A sign takes one of the two characters; minus negates and keeps the low byte.
  EXPECT_EQ(Decode("+5-1-F"), (Bytes{0x05, 0xFF, 0xF1}));
  EXPECT_EQ(Decode("12+G-"), (Bytes{0x12, 0x12}));
  // "0x" is only the start of a prefixed number: nothing is scanned.
  EXPECT_EQ(Decode("1F0x0X"), (Bytes{0x1F, 0x1F, 0x1F}));
  EXPECT_EQ(Decode("-0x"), (Bytes{0x00}));
  // The scan stops at a zero character and at the end of the text.
  EXPECT_EQ(Decode(std::string_view("AB\0" "5C", 5)), (Bytes{0xAB, 0xAB}));
  EXPECT_EQ(Decode(std::string_view("12 4", 3)), (Bytes{0x12}));
  EXPECT_EQ(Decode(std::string_view("12 4", 4)), (Bytes{0x12, 0x04}));
}

TEST(TemplateTextTest, DecodingIsBoundedByTheBuffer) {
  const std::string exact(2 * kDecodedTemplateBufferSize + 1, 'A');  // odd tail ignored: 1024 bytes
  EXPECT_EQ(Decode(exact).size(), kDecodedTemplateBufferSize);

  std::vector<uint8_t> buffer(kDecodedTemplateBufferSize + 16, 0xEE);
  const std::string tooLong(2 * kDecodedTemplateBufferSize + 2, 'A');
  EXPECT_EQ(DecodeTemplateText(tooLong, buffer.data(), kDecodedTemplateBufferSize), kOutOfRange);
  EXPECT_EQ(buffer[0], 0);
  EXPECT_EQ(buffer[kDecodedTemplateBufferSize], 0xEE);  // nothing past the given size
  EXPECT_EQ(DecodeTemplateText("12", nullptr, 4), kMissingArgument);
}

TEST(TemplateTextTest, RoundTripsEveryByte) {
  Bytes all(256);
  for (int i = 0; i < 256; ++i) all[i] = static_cast<uint8_t>(i);
  std::vector<char> text(kTemplateTextBufferSize);
  ASSERT_EQ(EncodeTemplateText(all.data(), 256, text.data(), text.size()), 512);
  EXPECT_EQ(Decode(text.data()), all);
}

}  // namespace
}  // namespace vorsensor
