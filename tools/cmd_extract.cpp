// vorsensor extract IMAGE --dump DIR: runs the extraction stages on an image
// and writes every stage's output into DIR (see docs/diagnostics.md).
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

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
    "The image (PNG, BMP, TIFF or PGM) is brought to 500 dpi (its resolution is --dpi, else\n"
    "what the file states, else 500) and run through the pipeline with the default settings\n"
    "or those of the scanner profile --profile. Every stage output is written into the\n"
    "--dump folder as NN-key.pgm (images; block grids at one byte per block) or NN-key.txt\n"
    "(lists and values), numbered in pipeline order; docs/diagnostics.md lists the keys.\n"
    "Exit code: 0 done, 2 error.";

// Writes each output as the next numbered file of the folder.
class FolderSink : public StageSink {
 public:
  explicit FolderSink(std::filesystem::path folder) : folder_(std::move(folder)) {}

  void Image(std::string_view key, const uint8_t* const* rows, int32_t width, int32_t height) override {
    imageio::GreyImage image;
    image.width = width;
    image.height = height;
    image.pixels.reserve(static_cast<size_t>(width) * static_cast<size_t>(height));
    for (int32_t y = 0; y < height; ++y) image.pixels.insert(image.pixels.end(), rows[y], rows[y] + width);
    const imageio::WriteResult written = imageio::WritePgm(NextPath(key, "pgm").string(), image);
    if (!written.ok()) Fail(written.error);
  }

  void Text(std::string_view key, std::string_view text) override {
    const std::filesystem::path path = NextPath(key, "txt");
    std::ofstream out(path, std::ios::binary);
    out << text;
    if (!out) Fail("cannot write " + path.string());
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
  void Fail(const std::string& message) {
    if (!error_) error_ = message;
  }

  std::filesystem::path folder_;
  int32_t count_ = 0;
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
  const int32_t dpi = options.dpi ? *options.dpi : (image.dpi > 0 ? image.dpi : kAssumedDpi);
  if (dpi < kMinDpi || dpi > kMaxDpi) {
    std::cerr << "vorsensor extract: resolution " << dpi << " dpi is outside " << kMinDpi << ".." << kMaxDpi << "\n";
    return 2;
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
    std::cerr << "vorsensor extract: " << options.image << " is " << nw << " x " << nh << " pixels at 500 dpi; "
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
  std::filesystem::create_directories(options.dump, ec);
  if (ec) {
    std::cerr << "vorsensor extract: cannot create " << options.dump << ": " << ec.message() << "\n";
    return 2;
  }
  FolderSink sink(options.dump);
  auto features = std::make_unique<FeatureSet>();
  const int32_t quality = RunPipeline(nw, nh, working.rows(), features.get(), &config, &sink);
  if (sink.error()) {
    std::cerr << "vorsensor extract: " << *sink.error() << "\n";
    return 2;
  }
  if (quality < 0) {
    std::cerr << "vorsensor extract: extraction failed with code " << quality << "\n";
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
