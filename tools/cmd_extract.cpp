// vorsensor extract IMAGE --dump DIR: runs the extraction stages on an image
// and writes every stage's output into DIR (see docs/diagnostics.md).
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/diagnostics.h"
#include "engine/engine_configuration.h"
#include "engine/feature_set.h"
#include "engine/pipeline.h"
#include "engine/resample_image.h"
#include "engine/row_image.h"
#include "imageio/image_io.h"
#include "tools/command.h"

namespace vorsensor::tools {
namespace {

constexpr int32_t kWorkingDpi = 500;
constexpr int32_t kAssumedDpi = 500;  // when neither the file nor --dpi states one
constexpr int32_t kMinDpi = 50;
constexpr int32_t kMaxDpi = 5000;

constexpr const char* kDescription =
    "Run the extraction stages on a fingerprint image and dump each stage's output.\n"
    "The image (PNG, BMP, TIFF or PGM, at most 256 MiB and 32768 pixels a side) is brought\n"
    "to 500 dpi (its resolution is --dpi, else what the file states, else 500; 50..5000\n"
    "whichever it is; at 500 dpi each side must be 16..2048 pixels) and run through the\n"
    "pipeline with the default settings or those of the scanner profile --profile. Every\n"
    "stage output is written into the --dump folder as NN-key.pgm (images; block grids at\n"
    "one byte per block) or NN-key.txt (lists and values), numbered in pipeline order;\n"
    "docs/diagnostics.md lists the keys. When a write fails, the files of the run are removed.\n"
    "Exit code: 0 done, 2 error.";

// Writes each output as the next numbered file of the folder. The first
// failed write stops the writing; Discard() then removes what was written.
class FolderSink : public StageSink {
 public:
  explicit FolderSink(std::filesystem::path folder) : folder_(std::move(folder)) {}

  void Image(std::string_view key, const uint8_t* const* rows, int32_t width, int32_t height) override {
    if (error_) return;
    imageio::GreyImage image;
    image.width = width;
    image.height = height;
    image.pixels.reserve(static_cast<size_t>(width) * static_cast<size_t>(height));
    for (int32_t y = 0; y < height; ++y) image.pixels.insert(image.pixels.end(), rows[y], rows[y] + width);
    const std::filesystem::path path = NextPath(key, "pgm");
    Keep(path, imageio::WritePgm(path.string(), image));
  }

  void Text(std::string_view key, std::string_view text) override {
    if (error_) return;
    const std::filesystem::path path = NextPath(key, "txt");
    Keep(path, imageio::WriteFileBytes(path.string(), std::vector<uint8_t>(text.begin(), text.end())));
  }

  // Removes every file this sink has written.
  void Discard() {
    std::error_code ec;
    for (const std::filesystem::path& path : written_) std::filesystem::remove(path, ec);
    written_.clear();
  }

  const std::optional<std::string>& error() const { return error_; }
  int32_t written() const { return count_; }

 private:
  std::filesystem::path NextPath(std::string_view key, const char* extension) {
    ++count_;
    std::string number = std::to_string(count_);
    if (number.size() < 2) number.insert(0, "0");
    return folder_ / (number + "-" + std::string(key) + "." + extension);
  }
  void Keep(const std::filesystem::path& path, const imageio::WriteResult& result) {
    if (result.ok()) {
      written_.push_back(path);
    } else {
      error_ = result.error;
    }
  }

  std::filesystem::path folder_;
  int32_t count_ = 0;
  std::vector<std::filesystem::path> written_;
  std::optional<std::string> error_;
};

struct ExtractOptions {
  std::string image;
  std::optional<int32_t> dpi;
  std::optional<int32_t> profile;
  std::string dump;
};

int RunExtract(const ExtractOptions& options) {
  const imageio::ImageResult read = imageio::ReadImage(options.image);
  if (!read.ok()) {
    std::cerr << "vorsensor extract: " << read.error << "\n";
    return 2;
  }
  const imageio::GreyImage& image = read.image;
  // --dpi wins over the file, which wins over the assumed 500; a value out of
  // range is refused wherever it comes from, naming where.
  int32_t dpi = kAssumedDpi;
  if (options.dpi) {
    dpi = *options.dpi;
    if (dpi < kMinDpi || dpi > kMaxDpi) {
      std::cerr << "vorsensor extract: --dpi " << dpi << " is outside " << kMinDpi << ".." << kMaxDpi << "\n";
      return 2;
    }
  } else if (!image.dpiSource.empty()) {
    dpi = image.dpi;
    if (dpi < kMinDpi || dpi > kMaxDpi) {
      std::cerr << "vorsensor extract: " << options.image << ": resolution " << dpi << " dpi stated by "
                << image.dpiSource << " is outside " << kMinDpi << ".." << kMaxDpi << " (--dpi overrides it)\n";
      return 2;
    }
  }

  EngineConfiguration config{};
  SetDefaultConfiguration(&config);
  if (options.profile && SelectScannerProfile(*options.profile, &config) != 0) {
    std::cerr << "vorsensor extract: unknown scanner profile " << *options.profile << "\n";
    return 2;
  }

  const int32_t nw = static_cast<int32_t>(static_cast<int64_t>(image.width) * kWorkingDpi / dpi);
  const int32_t nh = static_cast<int32_t>(static_cast<int64_t>(image.height) * kWorkingDpi / dpi);
  const int64_t least = config.minImageSide, most = config.maxImageSide;
  if (nw < least || nh < least || nw > most || nh > most) {
    std::cerr << "vorsensor extract: " << options.image << ": " << nw << " x " << nh << " pixels at 500 dpi; "
              << "each side must be " << least << ".." << most << "\n";
    return 2;
  }
  RowImage source = AllocRowImage(image.width, image.height);
  RowImage working = AllocRowImage(nw, nh);
  if (!source.valid() || !working.valid()) {
    std::cerr << "vorsensor extract: out of memory\n";
    return 2;
  }
  for (int32_t y = 0; y < image.height; ++y) {
    for (int32_t x = 0; x < image.width; ++x) source[y][x] = image.At(x, y);
  }
  ResampleImage(image.width, image.height, source.rows(), nw, nh, working.rows());

  std::error_code ec;
  const bool folderExisted = std::filesystem::exists(options.dump, ec);
  std::filesystem::create_directories(options.dump, ec);
  if (ec) {
    std::cerr << "vorsensor extract: cannot create " << options.dump << ": " << ec.message() << "\n";
    return 2;
  }
  FolderSink sink(options.dump);
  auto features = std::make_unique<FeatureSet>();
  const int32_t quality = RunPipeline(nw, nh, working.rows(), features.get(), &config, &sink);
  if (sink.error() || quality < 0) {
    // No half dump: what was written goes, and so does a folder made for it.
    sink.Discard();
    if (!folderExisted) std::filesystem::remove(options.dump, ec);
    if (sink.error()) {
      std::cerr << "vorsensor extract: " << *sink.error() << "\n";
    } else {
      std::cerr << "vorsensor extract: " << options.image << ": extraction failed with code " << quality << "\n";
    }
    return 2;
  }
  std::cout << options.image << ": " << nw << " x " << nh << " at 500 dpi, quality " << quality << ", "
            << sink.written() << " stage outputs in " << options.dump << "\n";
  return 0;
}

}  // namespace

void AddExtractCommand(CLI::App& app, int& exitCode) {
  auto options = std::make_shared<ExtractOptions>();
  CLI::App* cmd = app.add_subcommand("extract", "run the extraction stages and dump their outputs");
  cmd->description(kDescription);
  cmd->add_option("IMAGE", options->image, "fingerprint image file")->required();
  cmd->add_option("--dpi", options->dpi, "resolution of the image in dots per inch (50..5000)");
  cmd->add_option("--profile", options->profile, "scanner profile id (default: the general profile 0)");
  cmd->add_option("--dump", options->dump, "folder for the stage outputs (created when missing)")->required();
  cmd->callback([options, &exitCode] { exitCode = RunExtract(*options); });
}

}  // namespace vorsensor::tools
