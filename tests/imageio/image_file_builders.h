#pragma once
// Image files built for the reader tests: byte-order fields, BMP files laid
// out by hand and LZW TIFF files written with libtiff.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace vorsensor::imageio {

using Bytes = std::vector<uint8_t>;

inline void Little16(Bytes& b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
inline void Little32(Bytes& b, uint32_t v) {
  Little16(b, v & 0xFFFF);
  Little16(b, v >> 16);
}
inline void Big32(Bytes& b, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) b.push_back(static_cast<uint8_t>(v >> shift));
}

inline Bytes ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A BMP with a 40-byte header; `rows` are stored exactly as given (already padded).
inline Bytes MakeBmp(int32_t w, int32_t h, uint16_t bits, const std::vector<uint32_t>& palette, const Bytes& rows,
                     int32_t perMetre = 0) {
  Bytes b = {'B', 'M'};
  const uint32_t offset = 14 + 40 + 4 * static_cast<uint32_t>(palette.size());
  Little32(b, offset + static_cast<uint32_t>(rows.size()));
  Little32(b, 0);
  Little32(b, offset);
  Little32(b, 40);
  Little32(b, static_cast<uint32_t>(w));
  Little32(b, static_cast<uint32_t>(h));
  Little16(b, 1);
  Little16(b, bits);
  Little32(b, 0);  // no compression
  Little32(b, static_cast<uint32_t>(rows.size()));
  Little32(b, static_cast<uint32_t>(perMetre));
  Little32(b, static_cast<uint32_t>(perMetre));
  Little32(b, static_cast<uint32_t>(palette.size()));
  Little32(b, 0);
  for (uint32_t c : palette) Little32(b, c);  // 0x00RRGGBB stored as blue, green, red, 0
  b.insert(b.end(), rows.begin(), rows.end());
  return b;
}

// An LZW TIFF of `h` scanlines of `w` pixels, `samples` samples of `bits`
// each; rowsPerStrip 0 leaves the strip size to the library, resolution 0
// leaves the resolution out.
struct TiffLayout {
  uint32_t w, h;
  uint16_t bits, samples, photometric;
  uint32_t rowsPerStrip;
  float resolution;
  uint16_t unit;
};

// The file opened for writing with the layout's fields set (null on failure).
inline TIFF* OpenTiff(const std::string& path, const TiffLayout& layout) {
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  if (tif == nullptr) return nullptr;
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, layout.w);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, layout.h);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, layout.bits);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, layout.samples);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, layout.photometric);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  if (layout.rowsPerStrip > 0) TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, layout.rowsPerStrip);
  if (layout.resolution > 0) {
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, layout.resolution);
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, layout.resolution);
    TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, layout.unit);
  }
  return tif;
}

inline void WriteTiff(const std::string& path, const TiffLayout& layout, const void* pixels) {
  TIFF* tif = OpenTiff(path, layout);
  ASSERT_NE(tif, nullptr);
  const size_t rowBytes = size_t{layout.w} * layout.samples * layout.bits / 8;
  for (uint32_t y = 0; y < layout.h; ++y) {
    Bytes row(static_cast<const uint8_t*>(pixels) + y * rowBytes, static_cast<const uint8_t*>(pixels) + (y + 1) * rowBytes);
    EXPECT_EQ(TIFFWriteScanline(tif, row.data(), y, 0), 1);
  }
  TIFFClose(tif);
}

}  // namespace vorsensor::imageio
