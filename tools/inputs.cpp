// Extraction options, images extracted on the fly and templates in their
// several written forms, for the vorsensor sub-commands.
#include "tools/inputs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "component/template_text.h"
#include "engine/extraction_entry.h"
#include "engine/result_codes.h"
#include "engine/scanner_profiles.h"
#include "engine/template_record.h"
#include "imageio/image_io.h"
#include "services/opened_template.h"

namespace vorsensor::tools {
namespace {

constexpr size_t kSealedTextLength = 2 * kSealedTemplateBytes;
// A template file is small; anything larger is taken for an image.
constexpr uintmax_t kLargestTemplateFile = 1 << 20;

std::string WithoutSpace(const std::string& raw) {
  std::string text;
  for (const char c : raw) {
    if (std::isspace(static_cast<unsigned char>(c)) == 0) text.push_back(c);
  }
  return text;
}

bool IsHex(const std::string& text) {
  return !text.empty() && text.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
}

std::vector<uint8_t> BytesOfHex(const std::string& text) {
  std::vector<uint8_t> bytes(text.size() / 2);
  DecodeTemplateText(text, bytes.data(), bytes.size());
  return bytes;
}

// The file's bytes as text, when it is small enough to be a template.
std::optional<std::string> SmallFileText(const std::string& path) {
  std::error_code ec;
  const uintmax_t size = std::filesystem::file_size(path, ec);
  if (ec || size > kLargestTemplateFile) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  std::ostringstream contents;
  contents << in.rdbuf();
  if (!in && size > 0) return std::nullopt;
  return contents.str();
}

constexpr const char* kHexDigits = "0123456789abcdefABCDEF";

std::string ByteText(uint8_t byte) {
  if (byte >= 0x21 && byte <= 0x7E) return std::string("'") + static_cast<char>(byte) + "'";
  char hex[8];
  std::snprintf(hex, sizeof hex, "0x%02X", byte);
  return std::string("byte ") + hex;
}

// Reads a file, a pipe or a device up to the size of a template file.
bool ReadLimited(const std::string& path, std::string* contents, std::string* reason) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *reason = std::strerror(errno);
    return false;
  }
  contents->clear();
  char chunk[65536];
  bool ok = true;
  for (;;) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *reason = std::string("read failed: ") + std::strerror(errno);
      ok = false;
      break;
    }
    if (n == 0) break;
    contents->append(chunk, static_cast<size_t>(n));
    if (contents->size() > kLargestTemplateFile) {
      *reason = "goes on past " + std::to_string(kLargestTemplateFile) + " bytes, the limit for a template file";
      ok = false;
      break;
    }
  }
  ::close(fd);
  return ok;
}

int32_t ReadableMinutiae(const uint8_t* record, size_t length) {
  auto set = std::make_unique<FeatureSet>();
  const int32_t result = ReadTemplateRecord(record, length, set.get());
  return result < 0 ? result : set->minutiaCount;
}

// Hexadecimal text (white space already removed) as a sealed template or a record.
std::optional<LoadedTemplate> FromHex(const std::string& name, const std::string& label, const std::string& text,
                                      std::string* error) {
  if (text.size() % 2 != 0) {
    *error = label + " (" + name + "): " + std::to_string(text.size()) +
             " hexadecimal digits, not a whole number of bytes";
    return std::nullopt;
  }
  const std::vector<uint8_t> bytes = BytesOfHex(text);
  LoadedTemplate result;
  result.name = name;
  if (text.size() == kSealedTextLength) {
    std::array<uint8_t, kSealedTemplateBytes> sealed{};
    std::copy(bytes.begin(), bytes.end(), sealed.begin());
    std::vector<uint8_t> record(kSealedTemplateBytes);
    OpenSealed(MakeTemplateKey(), sealed.data(), record.data());
    const int32_t minutiae = ReadableMinutiae(record.data(), record.size());
    if (minutiae >= 0) {
      result.kind = "sealed template";
      result.record = std::move(record);
      result.sealed = sealed;
      result.minutiae = minutiae;
      return result;
    }
  }
  auto set = std::make_unique<FeatureSet>();
  const int32_t used = ReadTemplateRecord(bytes.data(), bytes.size(), set.get());
  // Up to a sealed template's size, zero padding after the record is normal;
  // a longer record must be exactly as long as what it holds.
  if (used >= 0 && bytes.size() > static_cast<size_t>(kSealedTemplateBytes) && static_cast<size_t>(used) != bytes.size()) {
    *error = label + " (" + name + "): " + std::to_string(bytes.size()) + " bytes, but the record in them ends after " +
             std::to_string(used);
    return std::nullopt;
  }
  const int32_t minutiae = used < 0 ? used : set->minutiaCount;
  if (minutiae < 0) {
    *error = label + " (" + name + "): neither a sealed template nor a readable template record (reader code " +
             std::to_string(minutiae) + ")";
    return std::nullopt;
  }
  result.kind = "template record";
  result.record = bytes;
  result.minutiae = minutiae;
  return result;
}

}  // namespace

void AddExtractionOptions(CLI::App* cmd, ExtractionOptions& options) {
  cmd->add_option("--dpi", options.dpi, "resolution of images in dots per inch (50..5000; default: the file's, else 500)");
  cmd->add_option("--profile", options.profile, "scanner profile id (default 0, the general profile)");
  cmd->add_option("--mode", options.mode, "profile mode: 256 (default) or 0 (long pairs, large pair limits)");
}

bool MakeConfiguration(const ExtractionOptions& options, EngineConfiguration* config, std::string* error) {
  SetDefaultConfiguration(config);
  if (options.mode && SetProfileMode(static_cast<uint32_t>(*options.mode), config) != kOk) {
    *error = "--mode " + std::to_string(*options.mode) + " is not a profile mode (0 or 256)";
    return false;
  }
  if (options.profile && SelectScannerProfile(*options.profile, config) != kOk) {
    std::string ids;
    for (const ScannerProfile& p : kScannerProfiles) ids += (ids.empty() ? "" : ", ") + std::to_string(p.id);
    *error = "--profile " + std::to_string(*options.profile) + " is not a scanner profile (" + ids + ")";
    return false;
  }
  return true;
}

std::optional<Extraction> ExtractImageFile(const std::string& path, const ExtractionOptions& options,
                                           const EngineConfiguration& config, StageSink* sink, std::string* error) {
  imageio::ImageResult read = imageio::ReadImage(path);
  if (!read.ok()) {
    *error = read.error;
    return std::nullopt;
  }
  Extraction result;
  result.image = std::move(read.image);
  const imageio::GreyImage& image = result.image;
  // --dpi wins over the file, which wins over the assumed 500; a value out of
  // range is refused wherever it comes from (however absurd), naming where.
  result.resolutionAssumed = !options.dpi && image.dpiSource.empty();
  result.resolution = options.dpi ? *options.dpi : (result.resolutionAssumed ? kAssumedDpi : image.dpi);
  if (result.resolution < kMinResolution || result.resolution > kMaxResolution) {
    const std::string range = " is outside " + std::to_string(kMinResolution) + ".." + std::to_string(kMaxResolution);
    *error = options.dpi ? "--dpi " + std::to_string(result.resolution) + range
                         : path + ": resolution " + std::to_string(result.resolution) + " dpi stated by " +
                               image.dpiSource + range + " (--dpi overrides it)";
    return std::nullopt;
  }
  const NormalisedSize size = NormaliseSize(image.width, image.height, result.resolution);
  if (size.width < config.minImageSide || size.height < config.minImageSide || size.width > config.maxImageSide ||
      size.height > config.maxImageSide) {
    *error = path + ": " + std::to_string(image.width) + " x " + std::to_string(image.height) + " pixels at " +
             std::to_string(result.resolution) + " dpi normalise to " + std::to_string(size.width) + " x " +
             std::to_string(size.height) + " at 500 dpi; each side must be " + std::to_string(config.minImageSide) +
             ".." + std::to_string(config.maxImageSide);
    return std::nullopt;
  }

  std::vector<uint8_t> pixels = image.pixels;
  std::vector<uint8_t> record(kMaxTemplateRecordSize);
  int32_t length = 0;
  const auto start = std::chrono::steady_clock::now();
  const int32_t answer = ExtractTemplate(image.width, image.height, pixels.data(), result.resolution, record.data(),
                                         static_cast<int32_t>(record.size()), &length, &config, sink);
  const auto stop = std::chrono::steady_clock::now();
  result.milliseconds = std::chrono::duration<double, std::milli>(stop - start).count();
  if (answer < 0 && answer != kQualityRejected) {
    *error = path + ": extraction failed with code " + std::to_string(answer);
    return std::nullopt;
  }
  record.resize(static_cast<size_t>(length));
  result.quality = answer;
  result.record = std::move(record);
  result.features = std::make_unique<FeatureSet>();
  if (ReadTemplateRecord(result.record.data(), result.record.size(), result.features.get()) < 0) {
    *error = path + ": the extracted record does not read back";
    return std::nullopt;
  }
  return result;
}

bool LooksLikeTemplateOrImage(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  char head[8] = {};
  in.read(head, sizeof head);
  const std::string start(head, static_cast<size_t>(in.gcount()));
  auto starts = [&](const char* magic, size_t n) { return start.size() >= n && start.compare(0, n, magic, n) == 0; };
  if (starts("\x89PNG", 4) || starts("II*\0", 4) || starts("MM\0*", 4) || starts("II+\0", 4) ||
      starts("MM\0+", 4) || starts("BM", 2) || (start.size() >= 2 && start[0] == 'P' && start[1] >= '1' && start[1] <= '7')) {
    return true;
  }
  const std::optional<std::string> text = SmallFileText(path);
  return text && IsHex(WithoutSpace(*text));
}

namespace {

// The template of an image file, extracted on the fly.
std::optional<LoadedTemplate> FromImage(const std::string& path, const std::string& label,
                                        const ExtractionOptions& options, const EngineConfiguration& config,
                                        std::string* error) {
  std::optional<Extraction> extraction = ExtractImageFile(path, options, config, nullptr, error);
  if (!extraction) {
    *error = label + ": " + *error;
    return std::nullopt;
  }
  LoadedTemplate result;
  result.name = path;
  result.kind = "image";
  result.record = std::move(extraction->record);
  result.minutiae = extraction->features->minutiaCount;
  result.quality = extraction->quality;
  return result;
}

}  // namespace

std::optional<LoadedTemplate> LoadTemplate(const std::string& argument, const std::string& label,
                                           const ExtractionOptions& options, const EngineConfiguration& config,
                                           std::string* error) {
  const std::string named = label + " (" + argument + ")";
  struct stat info {};
  if (!argument.empty() && ::stat(argument.c_str(), &info) == 0) {
    if (S_ISDIR(info.st_mode)) {
      *error = named + ": is a directory";
      return std::nullopt;
    }
    if (S_ISREG(info.st_mode) && static_cast<uintmax_t>(info.st_size) > kLargestTemplateFile) {
      // Too large for a template: an image, or nothing this reads.
      std::ifstream in(argument, std::ios::binary);
      uint8_t head[8] = {};
      in.read(reinterpret_cast<char*>(head), sizeof head);
      if (imageio::ImageFormatOf(head, static_cast<size_t>(in.gcount())) != nullptr) {
        return FromImage(argument, label, options, config, error);
      }
      *error = named + ": is " + std::to_string(info.st_size) + " bytes, over the limit of " +
               std::to_string(kLargestTemplateFile) + " for a template file, and not an image";
      return std::nullopt;
    }
    // A regular file, a pipe or a device: read up to the size of a template file.
    std::string contents;
    std::string reason;
    if (!ReadLimited(argument, &contents, &reason)) {
      *error = named + ": " + reason;
      return std::nullopt;
    }
    const auto* bytes = reinterpret_cast<const uint8_t*>(contents.data());
    if (imageio::ImageFormatOf(bytes, contents.size()) != nullptr) {
      if (!S_ISREG(info.st_mode)) {
        *error = named + ": an image must be given as a regular file";
        return std::nullopt;
      }
      return FromImage(argument, label, options, config, error);
    }
    size_t start = 0;
    if (contents.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
      start = 3;  // a UTF-8 byte-order mark, as some editors write
    } else if (contents.size() >= 2 &&
               ((bytes[0] == 0xFF && bytes[1] == 0xFE) || (bytes[0] == 0xFE && bytes[1] == 0xFF))) {
      *error = named + ": is UTF-16 text (it starts with a UTF-16 byte-order mark); save it as ASCII or UTF-8";
      return std::nullopt;
    }
    const std::string text = WithoutSpace(contents.substr(start));
    if (text.empty()) {
      *error = named + ": the file is empty";
      return std::nullopt;
    }
    const size_t bad = text.find_first_not_of(kHexDigits);
    if (bad != std::string::npos) {
      *error = named + ": neither an image (PNG, BMP, TIFF, PGM) nor hexadecimal text (it holds " +
               ByteText(static_cast<uint8_t>(text[bad])) + ")";
      return std::nullopt;
    }
    return FromHex(argument, label, text, error);
  }
  const int statError = errno;
  const std::string text = WithoutSpace(argument);
  if (argument.find_first_of("/.") != std::string::npos || !IsHex(text)) {
    *error = named + ": " + (statError == ENOENT ? std::string("no such file") : std::strerror(statError)) +
             (argument.find_first_of("/.") == std::string::npos ? ", nor hexadecimal digits" : "");
    return std::nullopt;
  }
  // Hexadecimal digits that name no file: a text. When it is not a template
  // either, the message says there is no such file too (a mistyped name).
  std::optional<LoadedTemplate> loaded = FromHex(text.size() > 16 ? text.substr(0, 16) + "..." : text, label, text, error);
  if (!loaded) *error += " (and no file has that name)";
  return loaded;
}

std::optional<std::array<uint8_t, kSealedTemplateBytes>> SealedOf(const LoadedTemplate& t, std::string* error) {
  if (t.sealed) return t.sealed;
  if (t.record.size() > static_cast<size_t>(kSealedTemplateBytes)) {
    *error = t.name + ": the record is " + std::to_string(t.record.size()) + " bytes, more than the " +
             std::to_string(kSealedTemplateBytes) + " a sealed template holds";
    return std::nullopt;
  }
  std::array<uint8_t, kSealedTemplateBytes> sealed{};
  SealTemplateRecord(t.record.data(), t.record.size(), sealed.data());
  return sealed;
}

std::string HexOf(const uint8_t* bytes, size_t count) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(2 * count);
  for (size_t i = 0; i < count; ++i) {
    text.push_back(kDigits[bytes[i] >> 4]);
    text.push_back(kDigits[bytes[i] & 15]);
  }
  return text;
}

EngineStart::EngineStart() : result(InitEngine()) {}
EngineStart::~EngineStart() {
  if (result >= 0) ReleaseEngine();
}

int Fail(const std::string& command, const std::string& message) {
  std::cerr << "vorsensor " << command << ": " << message << "\n";
  return 2;
}

}  // namespace vorsensor::tools
