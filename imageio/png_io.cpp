// PNG through libpng. libpng reports errors by longjmp, so the functions that
// call it keep only trivially destructible locals; everything they allocate is
// owned by their caller and released normally whatever happens.
#include <png.h>

#include <csetjmp>
#include <cstring>

#include "imageio/codecs.h"
#include "imageio/image_io.h"

namespace vorsensor::imageio {

namespace {

// The number of ancillary chunks libpng may keep.
constexpr png_uint_32 kMaxCachedChunks = 16;
constexpr size_t kSignatureBytes = 8;
constexpr size_t kChunkFrameBytes = 12;  // length, type, CRC
constexpr uint32_t kMaxChunkLength = 0x7FFFFFFFu;

uint32_t BigEndian32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
         p[3];
}

// Every chunk up to IEND must fit in the file: a stated length is checked
// against the bytes that are there before libpng sees it.
std::string CheckChunkLengths(const uint8_t* data, size_t size) {
  size_t pos = kSignatureBytes;
  while (size - pos >= 8) {
    const uint32_t length = BigEndian32(data + pos);
    const std::string type(reinterpret_cast<const char*>(data + pos + 4), 4);
    bool printable = true;
    for (const char c : type) printable = printable && ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'));
    const std::string name = printable ? "chunk " + type : "chunk";
    if (length > kMaxChunkLength || length > size - pos - 8 || size - pos - 8 - length < 4) {
      return name + " at offset " + std::to_string(pos) + " states " + std::to_string(length) +
             " bytes, more than the " + std::to_string(size - pos - 8) + " left in the file";
    }
    if (type == "IEND") break;
    pos += kChunkFrameBytes + length;
  }
  return {};
}

struct PngIo {
  const uint8_t* data = nullptr;
  size_t size = 0;
  size_t pos = 0;
  std::vector<uint8_t>* out = nullptr;
  char message[160] = {};
};

void SetMessage(PngIo* io, const char* text) {
  std::strncpy(io->message, text, sizeof io->message - 1);
  io->message[sizeof io->message - 1] = '\0';
}

void OnError(png_structp png, png_const_charp text) {
  auto* io = static_cast<PngIo*>(png_get_error_ptr(png));
  if (io->message[0] == '\0') {
    SetMessage(io, text);
  }
  png_longjmp(png, 1);
}

void OnWarning(png_structp, png_const_charp) {}

void ReadFromMemory(png_structp png, png_bytep dst, size_t length) {
  auto* io = static_cast<PngIo*>(png_get_io_ptr(png));
  if (length > io->size - io->pos) {
    SetMessage(io, "PNG file is truncated");
    png_error(png, "truncated");
  }
  std::memcpy(dst, io->data + io->pos, length);
  io->pos += length;
}

void WriteToMemory(png_structp png, png_bytep src, size_t length) {
  auto* io = static_cast<PngIo*>(png_get_io_ptr(png));
  io->out->insert(io->out->end(), src, src + length);
}

void FlushNothing(png_structp) {}

// Converts one decoded row of 8-bit samples with `channels` channels to grey.
void RowToGrey(const uint8_t* row, int channels, int32_t width, uint8_t* grey) {
  for (int32_t x = 0; x < width; ++x) {
    const uint8_t* p = row + static_cast<size_t>(x) * static_cast<size_t>(channels);
    switch (channels) {
      case 1: grey[x] = p[0]; break;
      case 2: grey[x] = OverWhite(p[0], p[1]); break;
      case 3: grey[x] = GreyOfRgb(p[0], p[1], p[2]); break;
      default: grey[x] = OverWhite(GreyOfRgb(p[0], p[1], p[2]), p[3]); break;
    }
  }
}

// Decodes into `samples` (whole image, all channels) and then `image`.
bool RunDecode(png_structp png, png_infop info, PngIo* io, std::vector<uint8_t>* samples,
               std::vector<png_bytep>* rows, GreyImage* image) {
  if (setjmp(png_jmpbuf(png))) {
    return false;
  }
  png_read_info(png, info);
  png_uint_32 width = 0;
  png_uint_32 height = 0;
  int depth = 0;
  int colourType = 0;
  png_get_IHDR(png, info, &width, &height, &depth, &colourType, nullptr, nullptr, nullptr);
  if (width == 0 || height == 0 || width > static_cast<png_uint_32>(kMaxImageSide) ||
      height > static_cast<png_uint_32>(kMaxImageSide) ||
      static_cast<int64_t>(width) * static_cast<int64_t>(height) > kMaxImagePixels) {
    SetMessage(io, "PNG image size is zero or exceeds the supported maximum");
    return false;
  }
  png_set_expand(png);      // palette to RGB, low-depth grey to 8 bits, transparency to alpha
  png_set_scale_16(png);    // 16-bit samples to 8 bits, rounded
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  const int channels = png_get_channels(png, info);
  const size_t rowBytes = png_get_rowbytes(png, info);
  if (channels < 1 || channels > 4 || rowBytes < static_cast<size_t>(width) * static_cast<size_t>(channels)) {
    SetMessage(io, "unsupported PNG sample layout");
    return false;
  }
  samples->resize(rowBytes * height);
  rows->resize(height);
  for (png_uint_32 y = 0; y < height; ++y) {
    (*rows)[y] = samples->data() + rowBytes * y;
  }
  png_read_image(png, rows->data());
  image->width = static_cast<int32_t>(width);
  image->height = static_cast<int32_t>(height);
  image->pixels.resize(static_cast<size_t>(width) * height);
  for (png_uint_32 y = 0; y < height; ++y) {
    RowToGrey((*rows)[y], channels, image->width, image->pixels.data() + static_cast<size_t>(width) * y);
  }
  png_uint_32 xRes = 0;
  png_uint_32 yRes = 0;
  int unit = 0;
  // A zero resolution or one without a unit (an aspect ratio) states none.
  if (png_get_pHYs(png, info, &xRes, &yRes, &unit) != 0 && unit == PNG_RESOLUTION_METER && xRes != 0) {
    image->dpi = DpiFromPerMetre(static_cast<double>(xRes));
    image->dpiSource = kPngResolutionSource;
  }
  return true;
}

bool RunEncode(png_structp png, png_infop info, const GreyImage* image, std::vector<png_bytep>* rows) {
  if (setjmp(png_jmpbuf(png))) {
    return false;
  }
  png_set_IHDR(png, info, static_cast<png_uint_32>(image->width), static_cast<png_uint_32>(image->height), 8,
               PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (image->dpi > 0) {
    const auto perMetre = static_cast<png_uint_32>((static_cast<int64_t>(image->dpi) * 10000 + 127) / 254);
    png_set_pHYs(png, info, perMetre, perMetre, PNG_RESOLUTION_METER);
  }
  png_set_compression_level(png, 9);
  rows->resize(static_cast<size_t>(image->height));
  for (int32_t y = 0; y < image->height; ++y) {
    // libpng's row type is not const, but writing only reads the rows.
    (*rows)[static_cast<size_t>(y)] =
        const_cast<png_bytep>(image->pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(image->width));
  }
  png_set_rows(png, info, rows->data());
  png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
  return true;
}

}  // namespace

std::string DecodePng(const uint8_t* data, size_t size, GreyImage& image) {
  PngIo io;
  io.data = data;
  io.size = size;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &io, OnError, OnWarning);
  if (png == nullptr) {
    return "cannot start the PNG decoder";
  }
  png_infop info = png_create_info_struct(png);
  if (info == nullptr) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    return "cannot start the PNG decoder";
  }
  if (std::string error = CheckChunkLengths(data, size); !error.empty()) {
    png_destroy_read_struct(&png, &info, nullptr);
    return "invalid PNG: " + error;
  }
  png_set_read_fn(png, &io, ReadFromMemory);
  // Only the chunks the image needs are read: every other one (text, palettes
  // of suggestions, colour profiles, unknown chunks) is skipped unread, so no
  // length stated in the file is ever allocated; pHYs is kept for the
  // resolution. Sizes over the limits stop the decoder at the header, and
  // what libpng would only warn about as "benign" (a chunk longer than the
  // allocation limit among them) is an error here. No chunk is longer than
  // the file (checked above), so the file's size is the chunk limit.
  png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
  png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_AS_DEFAULT, reinterpret_cast<png_const_bytep>("pHYs"), 1);
  png_set_user_limits(png, static_cast<png_uint_32>(kMaxImageSide), static_cast<png_uint_32>(kMaxImageSide));
  png_set_chunk_malloc_max(png, static_cast<png_alloc_size_t>(size));
  png_set_chunk_cache_max(png, kMaxCachedChunks);
  png_set_benign_errors(png, 0);
  std::vector<uint8_t> samples;
  std::vector<png_bytep> rows;
  const bool ok = RunDecode(png, info, &io, &samples, &rows, &image);
  png_destroy_read_struct(&png, &info, nullptr);
  if (!ok) {
    return std::string("invalid PNG: ") + (io.message[0] != '\0' ? io.message : "decoding failed");
  }
  return {};
}

std::string EncodePngBytes(const GreyImage& image, std::vector<uint8_t>& out) {
  out.clear();
  if (std::string error = CheckWritable(image); !error.empty()) {
    return error;
  }
  PngIo io;
  io.out = &out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &io, OnError, OnWarning);
  if (png == nullptr) {
    return "cannot start the PNG encoder";
  }
  png_infop info = png_create_info_struct(png);
  if (info == nullptr) {
    png_destroy_write_struct(&png, nullptr);
    return "cannot start the PNG encoder";
  }
  png_set_write_fn(png, &io, WriteToMemory, FlushNothing);
  std::vector<png_bytep> rows;
  const bool ok = RunEncode(png, info, &image, &rows);
  png_destroy_write_struct(&png, &info);
  if (!ok) {
    out.clear();
    return std::string("PNG encoding failed: ") + io.message;
  }
  return {};
}

WriteResult EncodePng(const GreyImage& image, std::vector<uint8_t>& out) { return {EncodePngBytes(image, out)}; }

}  // namespace vorsensor::imageio
