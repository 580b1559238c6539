#pragma once
// Reading fingerprint images from PNG, BMP, TIFF and PGM/PNM files into 8-bit
// grey, and writing 8-bit grey PNG and PGM files.
//
// Colour is converted with the integer weights 299/587/114 (rounded), 16-bit
// and other sample depths are scaled to 0..255 with rounding, and transparent
// pixels are blended onto white (the colour of an empty sensor).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "imageio/grey_image.h"

namespace vorsensor::imageio {

// Largest image accepted on reading (either side, and in total pixels): a
// corrupt header must not make the reader allocate gigabytes.
constexpr int32_t kMaxImageSide = 32768;
constexpr int64_t kMaxImagePixels = int64_t{1} << 24;
// Largest file read into memory.
constexpr int64_t kMaxFileBytes = int64_t{1} << 28;

// The format is recognised from the file's first bytes, not its name. A
// regular file larger than `maxBytes` is refused before anything is read; an
// input of unknown length (a pipe, a device) is read up to `maxBytes` and
// refused when it goes on; a file whose first bytes are no known image format
// is refused after reading them.
ImageResult ReadImage(const std::string& path, int64_t maxBytes = kMaxFileBytes);
// The same from bytes in memory; `name` is used in error messages only.
ImageResult DecodeImage(const std::vector<uint8_t>& bytes, const std::string& name);

// The name of the image format the bytes start with ("PNG", "TIFF", "BMP",
// "PNM", and "JPEG" / "GIF", which are recognised but not read), or nullptr.
const char* ImageFormatOf(const uint8_t* bytes, size_t size);

// Writes a whole file under a temporary name in the same folder and renames it
// into place, so a failed write (a full disk, a size limit) leaves neither a
// truncated file nor the temporary one behind. A target that exists and is not
// a regular file (a device, a pipe) is written directly.
WriteResult WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);
// Writes an 8-bit grey PNG (with its physical resolution when dpi > 0).
WriteResult WritePng(const std::string& path, const GreyImage& image);
// Writes a binary 8-bit PGM (P5, maxval 255).
WriteResult WritePgm(const std::string& path, const GreyImage& image);

// The encoded bytes of the same files (empty error on success).
WriteResult EncodePng(const GreyImage& image, std::vector<uint8_t>& out);
WriteResult EncodePgm(const GreyImage& image, std::vector<uint8_t>& out);

}  // namespace vorsensor::imageio
