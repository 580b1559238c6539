// Extraction options, images extracted on the fly and templates in their
// several written forms, for the vorsensor sub-commands.
#include "tools/inputs.h"

#include <cctype>
#include <chrono>
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
  result.resolutionAssumed = !options.dpi && image.dpi <= 0;
  result.resolution = options.dpi ? *options.dpi : (image.dpi > 0 ? image.dpi : kAssumedDpi);
  if (result.resolution < kMinResolution || result.resolution > kMaxResolution) {
    *error = path + ": resolution " + std::to_string(result.resolution) + " dpi is outside " +
             std::to_string(kMinResolution) + ".." + std::to_string(kMaxResolution);
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

std::optional<LoadedTemplate> LoadTemplate(const std::string& argument, const std::string& label,
                                           const ExtractionOptions& options, const EngineConfiguration& config,
                                           std::string* error) {
  std::error_code ec;
  if (std::filesystem::is_regular_file(argument, ec)) {
    const std::optional<std::string> text = SmallFileText(argument);
    if (text && IsHex(WithoutSpace(*text))) return FromHex(argument, label, WithoutSpace(*text), error);
    if (text && WithoutSpace(*text).empty()) {
      *error = label + " (" + argument + "): the file is empty";
      return std::nullopt;
    }
    std::optional<Extraction> extraction = ExtractImageFile(argument, options, config, nullptr, error);
    if (!extraction) {
      *error = label + ": " + *error;
      return std::nullopt;
    }
    LoadedTemplate result;
    result.name = argument;
    result.kind = "image";
    result.record = std::move(extraction->record);
    result.minutiae = extraction->features->minutiaCount;
    result.quality = extraction->quality;
    return result;
  }
  if (std::filesystem::exists(argument, ec)) {
    *error = label + " (" + argument + "): not a regular file";
    return std::nullopt;
  }
  const std::string text = WithoutSpace(argument);
  if (argument.find_first_of("/.") != std::string::npos) {
    *error = label + " (" + argument + "): no such file";
    return std::nullopt;
  }
  if (!IsHex(text)) {
    *error = label + " (" + (argument.size() > 40 ? argument.substr(0, 40) + "..." : argument) +
             "): not a file, nor a template text or record in hexadecimal digits";
    return std::nullopt;
  }
  return FromHex(text.size() > 16 ? text.substr(0, 16) + "..." : text, label, text, error);
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
