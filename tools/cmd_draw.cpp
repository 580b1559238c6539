// vorsensor draw IMAGE [TEMPLATE] -o OUT.png: the fingerprint image with its
// minutiae and singular points drawn over it.
#include <cairo.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <unistd.h>

#include "engine/extraction_entry.h"
#include "engine/feature_set.h"
#include "engine/template_record.h"
#include "tools/command.h"
#include "tools/inputs.h"

namespace vorsensor::tools {
namespace {

constexpr double kDrawUnitsPerTurn = 240;
constexpr double kPi = 3.14159265358979323846;
constexpr double kMarkRadius = 3.5;       // output pixels
constexpr double kStrokeLength = 11;      // direction strokes, output pixels
constexpr double kSingularRadius = 10;
constexpr double kLineWidth = 1.5;
constexpr int32_t kLargestScale = 8;

struct Colour {
  double r, g, b;
};
constexpr Colour kEndingColour{0.85, 0.10, 0.10};       // red
constexpr Colour kBifurcationColour{0.10, 0.35, 0.95};  // blue
constexpr Colour kSingularColour{0.05, 0.70, 0.20};     // green

constexpr const char* kDescription =
    "Draw the minutiae over a fingerprint image into a PNG file.\n"
    "Without TEMPLATE the image is extracted on the fly (with --dpi, --profile and --mode,\n"
    "singular points kept for the drawing); with TEMPLATE (template text, record hex or a file\n"
    "of either) its features are drawn, taken to be from this image at its resolution.\n"
    "Endings are red circles, bifurcations blue squares, each with a stroke along its\n"
    "direction; singular points are green (circle core, double circle whorl, triangle delta).\n"
    "--scale enlarges the picture (default 2). Exit code: 0 done, 2 error.";

struct DrawOptions {
  std::string image;
  std::string templateArgument;
  std::string output;
  int32_t scale = 2;
  bool json = false;
  ExtractionOptions extraction;
};

struct SurfaceDeleter {
  void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
struct ContextDeleter {
  void operator()(cairo_t* c) const { cairo_destroy(c); }
};
using Surface = std::unique_ptr<cairo_surface_t, SurfaceDeleter>;
using Context = std::unique_ptr<cairo_t, ContextDeleter>;

// The grey image as an opaque cairo surface.
Surface GreySurface(const imageio::GreyImage& image) {
  Surface surface(cairo_image_surface_create(CAIRO_FORMAT_RGB24, image.width, image.height));
  cairo_surface_flush(surface.get());
  unsigned char* data = cairo_image_surface_get_data(surface.get());
  const int stride = cairo_image_surface_get_stride(surface.get());
  for (int32_t y = 0; y < image.height; ++y) {
    auto* row = reinterpret_cast<uint32_t*>(data + static_cast<size_t>(y) * static_cast<size_t>(stride));
    for (int32_t x = 0; x < image.width; ++x) {
      const uint32_t g = image.At(x, y);
      row[x] = 0xFF000000u | (g << 16) | (g << 8) | g;
    }
  }
  cairo_surface_mark_dirty(surface.get());
  return surface;
}

void SetColour(cairo_t* cr, const Colour& c) { cairo_set_source_rgb(cr, c.r, c.g, c.b); }

// Draws the features; `toImage` turns 500 dpi coordinates into output pixels.
void DrawFeatures(cairo_t* cr, const FeatureSet& set, double toImage) {
  cairo_set_line_width(cr, kLineWidth);
  for (int32_t i = 0; i < set.minutiaCount; ++i) {
    const Minutia& m = set.minutiae[i];
    const double x = (m.x + 0.5) * toImage, y = (m.y + 0.5) * toImage;
    const double angle = m.direction * 2 * kPi / kDrawUnitsPerTurn;  // 0 towards +x, 60 units towards +y
    const bool ending = m.type == kMinutiaEnding;
    SetColour(cr, ending ? kEndingColour : kBifurcationColour);
    cairo_new_path(cr);
    if (ending) {
      cairo_arc(cr, x, y, kMarkRadius, 0, 2 * kPi);
    } else {
      cairo_rectangle(cr, x - kMarkRadius, y - kMarkRadius, 2 * kMarkRadius, 2 * kMarkRadius);
    }
    cairo_stroke(cr);
    cairo_move_to(cr, x + kMarkRadius * std::cos(angle), y + kMarkRadius * std::sin(angle));
    cairo_line_to(cr, x + kStrokeLength * std::cos(angle), y + kStrokeLength * std::sin(angle));
    cairo_stroke(cr);
  }
  SetColour(cr, kSingularColour);
  cairo_set_line_width(cr, 2 * kLineWidth);
  for (int32_t i = 0; i < set.singularCount; ++i) {
    const SingularPoint& p = set.singular[i];
    const double x = (p.x + 0.5) * toImage, y = (p.y + 0.5) * toImage;
    cairo_new_path(cr);
    if (p.kind == 3) {
      cairo_move_to(cr, x, y - kSingularRadius);
      cairo_line_to(cr, x + kSingularRadius, y + kSingularRadius * 0.7);
      cairo_line_to(cr, x - kSingularRadius, y + kSingularRadius * 0.7);
      cairo_close_path(cr);
    } else {
      cairo_arc(cr, x, y, kSingularRadius, 0, 2 * kPi);
      if (p.kind == 2) {
        cairo_new_sub_path(cr);
        cairo_arc(cr, x, y, kSingularRadius / 2, 0, 2 * kPi);
      }
    }
    cairo_stroke(cr);
  }
}

int RunDraw(const DrawOptions& options) {
  const std::string command = "draw";
  if (options.scale < 1 || options.scale > kLargestScale) {
    return Fail(command, "--scale " + std::to_string(options.scale) + " is outside 1.." + std::to_string(kLargestScale));
  }
  const std::filesystem::path output(options.output);
  std::error_code ec;
  const std::filesystem::path folder = output.has_parent_path() ? output.parent_path() : std::filesystem::path(".");
  if (!std::filesystem::is_directory(folder, ec)) {
    return Fail(command, "-o " + options.output + ": the folder " + folder.string() + " does not exist");
  }
  if (std::filesystem::is_directory(output, ec)) return Fail(command, "-o " + options.output + ": is a folder");

  EngineConfiguration config{};
  std::string error;
  if (!MakeConfiguration(options.extraction, &config, &error)) return Fail(command, error);
  config.keepSingularPoints = 1;
  std::optional<Extraction> extraction = ExtractImageFile(options.image, options.extraction, config, nullptr, &error);
  if (!extraction) return Fail(command, "IMAGE: " + error);
  auto features = std::move(extraction->features);
  std::string source = "extracted";
  if (!options.templateArgument.empty()) {
    const std::optional<LoadedTemplate> loaded =
        LoadTemplate(options.templateArgument, "TEMPLATE", options.extraction, config, &error);
    if (!loaded) return Fail(command, error);
    if (ReadTemplateRecord(loaded->record.data(), loaded->record.size(), features.get()) < 0) {
      return Fail(command, "TEMPLATE: the record does not read");
    }
    source = loaded->kind;
  }

  const imageio::GreyImage& image = extraction->image;
  const int32_t scale = options.scale;
  Surface grey = GreySurface(image);
  Surface picture(cairo_image_surface_create(CAIRO_FORMAT_RGB24, image.width * scale, image.height * scale));
  Context cr(cairo_create(picture.get()));
  cairo_save(cr.get());
  cairo_scale(cr.get(), scale, scale);
  cairo_set_source_surface(cr.get(), grey.get(), 0, 0);
  cairo_pattern_set_filter(cairo_get_source(cr.get()), CAIRO_FILTER_NEAREST);
  cairo_paint(cr.get());
  cairo_restore(cr.get());
  DrawFeatures(cr.get(), *features, static_cast<double>(extraction->resolution) / kWorkingResolution * scale);
  cairo_surface_flush(picture.get());
  if (cairo_status(cr.get()) != CAIRO_STATUS_SUCCESS) {
    return Fail(command, std::string("drawing failed: ") + cairo_status_to_string(cairo_status(cr.get())));
  }

  // Written beside the target and renamed, so that a failure leaves no half-written file.
  const std::filesystem::path partial =
      folder / ("." + output.filename().string() + ".partial-" + std::to_string(static_cast<long>(getpid())));
  const cairo_status_t written = cairo_surface_write_to_png(picture.get(), partial.string().c_str());
  if (written != CAIRO_STATUS_SUCCESS) {
    std::filesystem::remove(partial, ec);
    return Fail(command, "-o " + options.output + ": cannot write: " + cairo_status_to_string(written));
  }
  std::filesystem::rename(partial, output, ec);
  if (ec) {
    std::filesystem::remove(partial, ec);
    return Fail(command, "-o " + options.output + ": cannot write: " + ec.message());
  }

  if (options.json) {
    const nlohmann::json out = {{"output", options.output},
                                {"features", source},
                                {"width", image.width * scale},
                                {"height", image.height * scale},
                                {"minutiae", features->minutiaCount},
                                {"singular_points", features->singularCount}};
    std::cout << out.dump(2) << "\n";
  } else {
    std::cout << options.output << ": " << features->minutiaCount << " minutiae, " << features->singularCount
              << " singular points (" << source << ")\n";
  }
  return 0;
}

}  // namespace

void AddDrawCommand(CLI::App& app, int& exitCode) {
  auto options = std::make_shared<DrawOptions>();
  CLI::App* cmd = app.add_subcommand("draw");
  SetHelp(cmd, kDescription);
  cmd->add_option("IMAGE", options->image, "fingerprint image file")->required();
  cmd->add_option("TEMPLATE", options->templateArgument, "template text, record hex or file (default: extract IMAGE)");
  cmd->add_option("-o,--output", options->output, "PNG file to write")->required();
  cmd->add_option("--scale", options->scale, "enlargement 1..8 (default 2)");
  cmd->add_flag("--json", options->json, "print one JSON object instead of the text");
  AddExtractionOptions(cmd, options->extraction);
  cmd->callback([options, &exitCode] { exitCode = RunDraw(*options); });
}

}  // namespace vorsensor::tools
