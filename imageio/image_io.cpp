// Format dispatch, file reading and writing around the per-format codecs.
#include "imageio/image_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

#include "imageio/codecs.h"

namespace vorsensor::imageio {

namespace {

// Bytes enough to recognise every format.
constexpr size_t kMagicBytes = 8;

bool StartsWith(const uint8_t* bytes, size_t size, const char* magic, size_t length) {
  return size >= length && std::memcmp(bytes, magic, length) == 0;
}

// A file descriptor closed on every path.
struct Descriptor {
  int fd = -1;
  explicit Descriptor(int f) : fd(f) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (fd >= 0) ::close(fd);
  }
};

std::string ErrnoText() { return std::strerror(errno); }

// Reads up to `length` bytes, retrying interrupted and short reads; returns
// the count read (less only at the end of the input) or -1.
ssize_t ReadFully(int fd, uint8_t* dst, size_t length) {
  size_t done = 0;
  while (done < length) {
    const ssize_t n = ::read(fd, dst + done, length - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

bool WriteFully(int fd, const uint8_t* src, size_t length) {
  size_t done = 0;
  while (done < length) {
    const ssize_t n = ::write(fd, src + done, length - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

// A name in the folder of `path` that no other writer uses.
std::string TemporaryNameFor(const std::string& path) {
  static std::atomic<uint32_t> counter{0};
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  return folder + "." + base + "." + std::to_string(::getpid()) + "." + std::to_string(counter++) + ".tmp";
}

}  // namespace

const char* ImageFormatOf(const uint8_t* bytes, size_t size) {
  if (StartsWith(bytes, size, "\x89PNG\r\n\x1a\n", 8)) return "PNG";
  if (StartsWith(bytes, size, "II*\0", 4) || StartsWith(bytes, size, "MM\0*", 4) ||
      StartsWith(bytes, size, "II+\0", 4) || StartsWith(bytes, size, "MM\0+", 4)) {
    return "TIFF";
  }
  if (StartsWith(bytes, size, "BM", 2)) return "BMP";
  if (size >= 2 && bytes[0] == 'P' && bytes[1] >= '1' && bytes[1] <= '7') return "PNM";
  if (StartsWith(bytes, size, "\xFF\xD8\xFF", 3)) return "JPEG";
  if (StartsWith(bytes, size, "GIF8", 4)) return "GIF";
  return nullptr;
}

std::string CheckWritable(const GreyImage& image) {
  if (image.width <= 0 || image.height <= 0) {
    return "image has no pixels (" + std::to_string(image.width) + " x " + std::to_string(image.height) + ")";
  }
  // Nothing is written that could not be read back.
  if (std::string error = CheckDimensions(image.width, image.height); !error.empty()) {
    return error;
  }
  if (image.pixels.size() != static_cast<size_t>(image.width) * static_cast<size_t>(image.height)) {
    return "pixel buffer holds " + std::to_string(image.pixels.size()) + " bytes, not width x height";
  }
  return {};
}

WriteResult WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  struct stat target {};
  if (::stat(path.c_str(), &target) == 0 && !S_ISREG(target.st_mode)) {
    if (S_ISDIR(target.st_mode)) return {path + ": cannot write: is a directory"};
    // A device or a pipe cannot be replaced by renaming; write into it.
    Descriptor out(::open(path.c_str(), O_WRONLY | O_CLOEXEC));
    if (out.fd < 0) return {path + ": cannot open for writing: " + ErrnoText()};
    if (!WriteFully(out.fd, bytes.data(), bytes.size())) return {path + ": write failed: " + ErrnoText()};
    return {};
  }
  const std::string temporary = TemporaryNameFor(path);
  Descriptor out(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
  if (out.fd < 0) return {path + ": cannot create file: " + ErrnoText()};
  std::string error;
  if (!WriteFully(out.fd, bytes.data(), bytes.size())) {
    error = path + ": write failed: " + ErrnoText();
  } else {
    const int closed = ::close(out.fd);
    out.fd = -1;
    if (closed != 0) {
      error = path + ": write failed: " + ErrnoText();
    } else if (::rename(temporary.c_str(), path.c_str()) != 0) {
      error = path + ": cannot put the file in place: " + ErrnoText();
    }
  }
  if (!error.empty()) ::unlink(temporary.c_str());
  return {error};
}

std::string CheckDimensions(int64_t width, int64_t height) {
  if (width <= 0 || height <= 0) {
    return "invalid image size " + std::to_string(width) + " x " + std::to_string(height);
  }
  if (width > kMaxImageSide || height > kMaxImageSide) {
    return "image size " + std::to_string(width) + " x " + std::to_string(height) + " is over the limit of " +
           std::to_string(kMaxImageSide) + " pixels per side";
  }
  if (width * height > kMaxImagePixels) {
    return "image size " + std::to_string(width) + " x " + std::to_string(height) + " is over the limit of " +
           std::to_string(kMaxImagePixels) + " pixels";
  }
  return {};
}

ImageResult DecodeImage(const std::vector<uint8_t>& bytes, const std::string& name) {
  ImageResult result;
  std::string error;
  const char* format = ImageFormatOf(bytes.data(), bytes.size());
  if (bytes.empty()) {
    error = "file is empty";
  } else if (format == nullptr) {
    error = "unrecognised image format (expected PNG, BMP, TIFF or PGM/PNM)";
  } else if (std::strcmp(format, "PNG") == 0) {
    error = DecodePng(bytes.data(), bytes.size(), result.image);
  } else if (std::strcmp(format, "TIFF") == 0) {
    error = DecodeTiff(bytes.data(), bytes.size(), result.image);
  } else if (std::strcmp(format, "BMP") == 0) {
    error = DecodeBmp(bytes.data(), bytes.size(), result.image);
  } else if (std::strcmp(format, "PNM") == 0) {
    error = DecodePnm(bytes.data(), bytes.size(), result.image);
  } else {
    error = std::string(format) + " images are not supported (expected PNG, BMP, TIFF or PGM/PNM)";
  }
  if (!error.empty()) {
    result.image = GreyImage{};
    result.error = name + ": " + error;
  }
  return result;
}

ImageResult ReadImage(const std::string& path, int64_t maxBytes) {
  const auto failure = [&path](const std::string& reason) { return ImageResult{{}, path + ": " + reason}; };
  Descriptor in(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (in.fd < 0) return failure("cannot open file: " + ErrnoText());
  struct stat info {};
  if (::fstat(in.fd, &info) != 0) return failure("cannot read file: " + ErrnoText());
  if (S_ISDIR(info.st_mode)) return failure("is a directory, not an image file");
  const bool knownSize = S_ISREG(info.st_mode);
  const std::string limit = "the limit of " + std::to_string(maxBytes) + " bytes";
  if (knownSize && info.st_size > maxBytes) {
    return failure("file is " + std::to_string(info.st_size) + " bytes, over " + limit);
  }
  std::vector<uint8_t> bytes(kMagicBytes);
  ssize_t got = ReadFully(in.fd, bytes.data(), bytes.size());
  if (got < 0) return failure("read failed: " + ErrnoText());
  bytes.resize(static_cast<size_t>(got));
  if (bytes.empty()) return failure("file is empty");
  if (ImageFormatOf(bytes.data(), bytes.size()) == nullptr) {
    return DecodeImage(bytes, path);  // refused by its first bytes, whatever follows
  }
  const size_t head = bytes.size();
  if (head < kMagicBytes) {
    // The whole input is already here.
  } else if (knownSize) {
    // One read of the stated size, plus one byte to notice a file that grew.
    bytes.resize(std::max(static_cast<size_t>(info.st_size), head) + 1);
    got = ReadFully(in.fd, bytes.data() + head, bytes.size() - head);
    if (got < 0) return failure("read failed: " + ErrnoText());
    bytes.resize(head + static_cast<size_t>(got));
  } else {
    uint8_t chunk[65536];
    for (;;) {
      got = ReadFully(in.fd, chunk, sizeof chunk);
      if (got < 0) return failure("read failed: " + ErrnoText());
      if (got == 0) break;
      if (static_cast<int64_t>(bytes.size()) + got > maxBytes) break;
      bytes.insert(bytes.end(), chunk, chunk + got);
    }
    if (got > 0) return failure("input goes on past " + limit);
  }
  if (static_cast<int64_t>(bytes.size()) > maxBytes) return failure("file grew past " + limit + " while read");
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
  return WriteFileBytes(path, bytes);
}

WriteResult WritePng(const std::string& path, const GreyImage& image) {
  std::vector<uint8_t> bytes;
  if (WriteResult r = EncodePng(image, bytes); !r.ok()) {
    return {path + ": " + r.error};
  }
  return WriteFileBytes(path, bytes);
}

}  // namespace vorsensor::imageio
