// Format dispatch, file reading and writing around the per-format codecs.
#include "imageio/image_io.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "imageio/codecs.h"

namespace vorsensor::imageio {

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

bool StartsWith(const std::vector<uint8_t>& bytes, const char* magic, size_t length) {
  return bytes.size() >= length && std::memcmp(bytes.data(), magic, length) == 0;
}

}  // namespace

std::string CheckWritable(const GreyImage& image) {
  if (image.width <= 0 || image.height <= 0) {
    return "image has no pixels (" + std::to_string(image.width) + " x " + std::to_string(image.height) + ")";
  }
  if (image.width > kMaxImageSide || image.height > kMaxImageSide) {
    return "image is too large to write";
  }
  if (image.pixels.size() != static_cast<size_t>(image.width) * static_cast<size_t>(image.height)) {
    return "pixel buffer holds " + std::to_string(image.pixels.size()) + " bytes, not width x height";
  }
  return {};
}

namespace {

WriteResult WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  File f(std::fopen(path.c_str(), "wb"));
  if (!f) {
    return {path + ": cannot create file: " + std::strerror(errno)};
  }
  if (std::fwrite(bytes.data(), 1, bytes.size(), f.get()) != bytes.size()) {
    return {path + ": write failed: " + std::strerror(errno)};
  }
  if (std::fclose(f.release()) != 0) {
    return {path + ": write failed: " + std::strerror(errno)};
  }
  return {};
}

}  // namespace

std::string CheckDimensions(int64_t width, int64_t height) {
  if (width <= 0 || height <= 0) {
    return "invalid image size " + std::to_string(width) + " x " + std::to_string(height);
  }
  if (width > kMaxImageSide || height > kMaxImageSide || width * height > kMaxImagePixels) {
    return "image size " + std::to_string(width) + " x " + std::to_string(height) + " exceeds the supported maximum";
  }
  return {};
}

ImageResult DecodeImage(const std::vector<uint8_t>& bytes, const std::string& name) {
  ImageResult result;
  std::string error;
  if (bytes.empty()) {
    error = "file is empty";
  } else if (StartsWith(bytes, "\x89PNG\r\n\x1a\n", 8)) {
    error = DecodePng(bytes.data(), bytes.size(), result.image);
  } else if (StartsWith(bytes, "II*\0", 4) || StartsWith(bytes, "MM\0*", 4) || StartsWith(bytes, "II+\0", 4) ||
             StartsWith(bytes, "MM\0+", 4)) {
    error = DecodeTiff(bytes.data(), bytes.size(), result.image);
  } else if (StartsWith(bytes, "BM", 2)) {
    error = DecodeBmp(bytes.data(), bytes.size(), result.image);
  } else if (bytes.size() >= 2 && bytes[0] == 'P' && bytes[1] >= '1' && bytes[1] <= '7') {
    error = DecodePnm(bytes.data(), bytes.size(), result.image);
  } else {
    error = "unrecognised image format (expected PNG, BMP, TIFF or PGM/PNM)";
  }
  if (!error.empty()) {
    result.image = GreyImage{};
    result.error = name + ": " + error;
  }
  return result;
}

ImageResult ReadImage(const std::string& path) {
  File f(std::fopen(path.c_str(), "rb"));
  if (!f) {
    return {{}, path + ": cannot open file: " + std::strerror(errno)};
  }
  std::vector<uint8_t> bytes;
  uint8_t chunk[65536];
  for (;;) {
    const size_t n = std::fread(chunk, 1, sizeof chunk, f.get());
    if (n > 0) {
      if (static_cast<int64_t>(bytes.size() + n) > kMaxFileBytes) {
        return {{}, path + ": file is larger than the supported maximum"};
      }
      bytes.insert(bytes.end(), chunk, chunk + n);
    }
    if (n < sizeof chunk) {
      if (std::ferror(f.get())) {
        return {{}, path + ": read failed: " + std::strerror(errno)};
      }
      break;
    }
  }
  return DecodeImage(bytes, path);
}

WriteResult EncodePgm(const GreyImage& image, std::vector<uint8_t>& out) {
  out.clear();
  if (std::string error = CheckWritable(image); !error.empty()) {
    return {error};
  }
  const std::string header = "P5\n" + std::to_string(image.width) + " " + std::to_string(image.height) + "\n255\n";
  out.assign(header.begin(), header.end());
  out.insert(out.end(), image.pixels.begin(), image.pixels.end());
  return {};
}

WriteResult WritePgm(const std::string& path, const GreyImage& image) {
  std::vector<uint8_t> bytes;
  if (WriteResult r = EncodePgm(image, bytes); !r.ok()) {
    return {path + ": " + r.error};
  }
  return WriteBytes(path, bytes);
}

WriteResult WritePng(const std::string& path, const GreyImage& image) {
  std::vector<uint8_t> bytes;
  if (WriteResult r = EncodePng(image, bytes); !r.ok()) {
    return {path + ": " + r.error};
  }
  return WriteBytes(path, bytes);
}

}  // namespace vorsensor::imageio
