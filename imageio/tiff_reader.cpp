// TIFF through libtiff (every compression libtiff supports, LZW included),
// read from memory, first page only, converted through libtiff's RGBA reader.
#include <tiffio.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>

#include "imageio/codecs.h"
#include "imageio/image_io.h"

namespace vorsensor::imageio {

namespace {

// Largest single allocation libtiff may make for a corrupt file.
constexpr tmsize_t kMaxTiffAllocation = tmsize_t{256} << 20;

struct MemoryFile {
  const uint8_t* data = nullptr;
  uint64_t size = 0;
  uint64_t pos = 0;
  char message[200] = {};
};

tmsize_t ReadProc(thandle_t handle, void* dst, tmsize_t length) {
  auto* f = static_cast<MemoryFile*>(handle);
  if (length <= 0 || f->pos >= f->size) {
    return 0;
  }
  const uint64_t n = std::min<uint64_t>(static_cast<uint64_t>(length), f->size - f->pos);
  std::memcpy(dst, f->data + f->pos, n);
  f->pos += n;
  return static_cast<tmsize_t>(n);
}

tmsize_t WriteProc(thandle_t, void*, tmsize_t) { return 0; }

toff_t SeekProc(thandle_t handle, toff_t offset, int whence) {
  auto* f = static_cast<MemoryFile*>(handle);
  uint64_t base = 0;
  if (whence == SEEK_CUR) {
    base = f->pos;
  } else if (whence == SEEK_END) {
    base = f->size;
  }
  const uint64_t target = base + offset;
  if (target < base) {
    return static_cast<toff_t>(-1);
  }
  f->pos = target;  // past the end is allowed; reads there return nothing
  return target;
}

int CloseProc(thandle_t) { return 0; }
toff_t SizeProc(thandle_t handle) { return static_cast<MemoryFile*>(handle)->size; }
int MapProc(thandle_t, void**, toff_t*) { return 0; }
void UnmapProc(thandle_t, void*, toff_t) {}

int OnError(TIFF*, void* user, const char*, const char* format, va_list args) {
  auto* f = static_cast<MemoryFile*>(user);
  if (f->message[0] == '\0') {
    std::vsnprintf(f->message, sizeof f->message, format, args);
  }
  return 1;
}

int OnWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

struct TiffCloser {
  void operator()(TIFF* tif) const { TIFFClose(tif); }
};
struct OptionsFreer {
  void operator()(TIFFOpenOptions* o) const { TIFFOpenOptionsFree(o); }
};

std::string Failure(const char* what, const MemoryFile& file) {
  std::string text = std::string("invalid TIFF: ") + what;
  if (file.message[0] != '\0') {
    text += std::string(" (") + file.message + ")";
  }
  return text;
}

}  // namespace

std::string DecodeTiff(const uint8_t* data, size_t size, GreyImage& image) {
  MemoryFile file;
  file.data = data;
  file.size = size;
  std::unique_ptr<TIFFOpenOptions, OptionsFreer> options(TIFFOpenOptionsAlloc());
  if (!options) {
    return "cannot start the TIFF decoder";
  }
  TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), kMaxTiffAllocation);
  TIFFOpenOptionsSetErrorHandlerExtR(options.get(), OnError, &file);
  TIFFOpenOptionsSetWarningHandlerExtR(options.get(), OnWarning, &file);
  std::unique_ptr<TIFF, TiffCloser> tif(TIFFClientOpenExt("memory", "rm", &file, ReadProc, WriteProc, SeekProc,
                                                          CloseProc, SizeProc, MapProc, UnmapProc, options.get()));
  if (!tif) {
    return Failure("cannot read the header", file);
  }
  uint32_t width = 0;
  uint32_t height = 0;
  if (TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &width) != 1 ||
      TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &height) != 1) {
    return Failure("image size is missing", file);
  }
  if (std::string error = CheckDimensions(width, height); !error.empty()) {
    return "TIFF " + error;
  }
  char reason[1024] = {};
  if (TIFFRGBAImageOK(tif.get(), reason) != 1) {
    return std::string("unsupported TIFF layout: ") + reason;
  }
  std::vector<uint32_t> raster(static_cast<size_t>(width) * height);
  file.message[0] = '\0';  // only errors of the pixel data count from here
  // Stops at the first damaged strip or tile (an offset past the end of the
  // file, a strip cut short, corrupt compressed data) instead of filling in.
  if (TIFFReadRGBAImageOriented(tif.get(), width, height, raster.data(), ORIENTATION_TOPLEFT, 1) != 1 ||
      file.message[0] != '\0') {
    return Failure("pixel data cannot be decoded", file);
  }
  image.width = static_cast<int32_t>(width);
  image.height = static_cast<int32_t>(height);
  image.pixels.resize(raster.size());
  for (size_t i = 0; i < raster.size(); ++i) {
    const uint32_t p = raster[i];
    image.pixels[i] = OverWhite(GreyOfRgb(TIFFGetR(p), TIFFGetG(p), TIFFGetB(p)), TIFFGetA(p));
  }
  // A zero resolution or one without a unit (an aspect ratio) states none.
  float xRes = 0.0f;
  uint16_t unit = RESUNIT_INCH;
  if (TIFFGetField(tif.get(), TIFFTAG_XRESOLUTION, &xRes) == 1 && xRes != 0.0f) {
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_RESOLUTIONUNIT, &unit);
    if (unit == RESUNIT_INCH) {
      image.dpi = DpiOf(static_cast<double>(xRes));
      image.dpiSource = kTiffResolutionSource;
    } else if (unit == RESUNIT_CENTIMETER) {
      image.dpi = DpiOf(static_cast<double>(xRes) * 2.54);
      image.dpiSource = kTiffResolutionSource;
    }
  }
  return {};
}

}  // namespace vorsensor::imageio
