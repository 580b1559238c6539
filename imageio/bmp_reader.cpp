// Windows bitmap reader. There is no Debian library for BMP, so this is a
// small reader for the uncompressed kinds (1, 4, 8 bits with a palette; 16, 24
// and 32 bits direct, with or without bit-field masks). Every header field is
// checked against the file size before it is used; alpha is ignored.
#include <cstring>

#include "imageio/codecs.h"
#include "imageio/image_io.h"

namespace vorsensor::imageio {

namespace {

constexpr size_t kFileHeaderBytes = 14;
constexpr uint32_t kCoreHeaderBytes = 12;
constexpr uint32_t kInfoHeaderBytes = 40;
constexpr uint32_t kCompressionNone = 0;
constexpr uint32_t kCompressionBitFields = 3;
constexpr uint32_t kCompressionAlphaBitFields = 6;

uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t U32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

// One colour channel described by a bit mask: where it sits and its maximum.
struct Channel {
  uint32_t mask = 0;
  int shift = 0;
  uint32_t maxval = 0;
};

Channel ChannelOf(uint32_t mask) {
  Channel c;
  c.mask = mask;
  if (mask == 0) {
    return c;
  }
  while (((mask >> c.shift) & 1u) == 0) {
    ++c.shift;
  }
  c.maxval = mask >> c.shift;  // a non-contiguous mask still gives a usable maximum
  return c;
}

uint32_t Extract(uint32_t pixel, const Channel& c) {
  if (c.mask == 0) {
    return 0;
  }
  return ScaleSample((pixel & c.mask) >> c.shift, c.maxval);
}

}  // namespace

std::string DecodeBmp(const uint8_t* data, size_t size, GreyImage& image) {
  if (size < kFileHeaderBytes + 4) {
    return "BMP file is truncated (no bitmap header)";
  }
  const uint32_t dataOffset = U32(data + 10);
  const uint32_t headerBytes = U32(data + kFileHeaderBytes);
  if (headerBytes < kCoreHeaderBytes || (headerBytes > kCoreHeaderBytes && headerBytes < kInfoHeaderBytes) ||
      headerBytes > size - kFileHeaderBytes) {
    return "BMP bitmap header size " + std::to_string(headerBytes) + " is invalid or runs past the end of the file";
  }
  const uint8_t* h = data + kFileHeaderBytes;
  const bool core = headerBytes == kCoreHeaderBytes;
  int64_t width = 0;
  int64_t height = 0;
  uint32_t planes = 0;
  uint32_t bits = 0;
  uint32_t compression = kCompressionNone;
  uint32_t coloursUsed = 0;
  int32_t perMetre = 0;
  if (core) {
    width = U16(h + 4);
    height = U16(h + 6);
    planes = U16(h + 8);
    bits = U16(h + 10);
  } else {
    width = static_cast<int32_t>(U32(h + 4));
    height = static_cast<int32_t>(U32(h + 8));
    planes = U16(h + 12);
    bits = U16(h + 14);
    compression = U32(h + 16);
    perMetre = static_cast<int32_t>(U32(h + 24));
    coloursUsed = U32(h + 32);
  }
  const bool topDown = height < 0;
  if (topDown) {
    height = -height;
  }
  if (std::string error = CheckDimensions(width, height); !error.empty()) {
    return "BMP " + error;
  }
  if (planes != 1) {
    return "BMP plane count " + std::to_string(planes) + " is invalid";
  }
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) {
    return "BMP with " + std::to_string(bits) + " bits per pixel is not supported";
  }
  const bool bitFields = compression == kCompressionBitFields || compression == kCompressionAlphaBitFields;
  if (compression != kCompressionNone && !(bitFields && (bits == 16 || bits == 32))) {
    return "compressed BMP (compression " + std::to_string(compression) + ") is not supported";
  }

  // Colour masks: in the header from version 52 bytes on, else right after it.
  Channel red = ChannelOf(0x7C00);
  Channel green = ChannelOf(0x03E0);
  Channel blue = ChannelOf(0x001F);
  size_t afterHeader = kFileHeaderBytes + headerBytes;
  if (bits == 32) {
    red = ChannelOf(0x00FF0000);
    green = ChannelOf(0x0000FF00);
    blue = ChannelOf(0x000000FF);
  }
  if (bitFields) {
    const uint8_t* masks = h + kInfoHeaderBytes;
    if (headerBytes < kInfoHeaderBytes + 12) {
      if (size - afterHeader < 12) {
        return "BMP colour masks run past the end of the file";
      }
      masks = data + afterHeader;
      afterHeader += 12;
    }
    red = ChannelOf(U32(masks));
    green = ChannelOf(U32(masks + 4));
    blue = ChannelOf(U32(masks + 8));
  }

  // Palette as grey levels.
  uint8_t palette[256] = {};
  uint32_t paletteSize = 0;
  if (bits <= 8) {
    paletteSize = coloursUsed != 0 ? coloursUsed : (1u << bits);
    if (paletteSize > (1u << bits)) {
      return "BMP palette of " + std::to_string(coloursUsed) + " colours is too large for " + std::to_string(bits) +
             " bits per pixel";
    }
    const size_t entryBytes = core ? 3 : 4;
    if (afterHeader > size || (size - afterHeader) / entryBytes < paletteSize) {
      return "BMP palette runs past the end of the file";
    }
    for (uint32_t i = 0; i < paletteSize; ++i) {
      const uint8_t* e = data + afterHeader + i * entryBytes;
      palette[i] = GreyOfRgb(e[2], e[1], e[0]);  // stored blue, green, red
    }
  }

  const uint64_t stride = ((static_cast<uint64_t>(width) * bits + 31) / 32) * 4;
  const uint64_t lastRowBytes = (static_cast<uint64_t>(width) * bits + 7) / 8;
  const uint64_t needed = stride * static_cast<uint64_t>(height - 1) + lastRowBytes;
  if (dataOffset > size || size - dataOffset < needed) {
    return "BMP pixel data is truncated (needs " + std::to_string(needed) + " bytes from offset " +
           std::to_string(dataOffset) + ", file has " + std::to_string(size) + ")";
  }

  image.width = static_cast<int32_t>(width);
  image.height = static_cast<int32_t>(height);
  image.pixels.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
  for (int64_t row = 0; row < height; ++row) {
    const int64_t y = topDown ? row : height - 1 - row;  // bottom-up unless the height is negative
    const uint8_t* src = data + dataOffset + stride * static_cast<uint64_t>(row);
    uint8_t* dst = image.pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(width);
    for (int64_t x = 0; x < width; ++x) {
      uint32_t grey = 0;
      if (bits <= 8) {
        const uint64_t bit = static_cast<uint64_t>(x) * bits;
        const uint32_t byte = src[bit / 8];
        const uint32_t index = (byte >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
        if (index >= paletteSize) {
          return "BMP pixel at (" + std::to_string(x) + ", " + std::to_string(y) + ") uses palette entry " +
                 std::to_string(index) + " of " + std::to_string(paletteSize);
        }
        grey = palette[index];
      } else if (bits == 24) {
        const uint8_t* p = src + x * 3;
        grey = GreyOfRgb(p[2], p[1], p[0]);
      } else {
        const uint32_t pixel = bits == 16 ? U16(src + x * 2) : U32(src + x * 4);
        grey = GreyOfRgb(Extract(pixel, red), Extract(pixel, green), Extract(pixel, blue));
      }
      dst[x] = static_cast<uint8_t>(grey);
    }
  }
  if (perMetre != 0) {  // 0 states no resolution; a negative one is stated and absurd
    image.dpi = DpiFromPerMetre(perMetre);
    image.dpiSource = kBmpResolutionSource;
  }
  return {};
}

}  // namespace vorsensor::imageio
