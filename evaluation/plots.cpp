// DET curves and score histograms drawn with cairo.
#include "evaluation/plots.h"

#include <cairo-svg.h>
#include <cairo.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>

namespace vorsensor::evaluation {
namespace {

constexpr int kDetWidth = 960;
constexpr int kDetHeight = 720;
constexpr int kHistogramWidth = 900;
constexpr int kHistogramHeight = 480;
constexpr double kMarginLeft = 80;
constexpr double kMarginTop = 50;
constexpr double kMarginBottom = 60;
constexpr double kDetLegendWidth = 250;
constexpr double kMarginRight = 30;
constexpr double kFontSize = 13;
constexpr double kTitleSize = 16;
constexpr double kCurveWidth = 2;
constexpr double kMarkRadius = 5;
constexpr int kFloorExponentMax = -3;  // the DET axes reach 0.1 % at least
constexpr int kFloorExponentMin = -6;
constexpr int kHistogramBins = 60;
constexpr double kHistogramAlpha = 0.55;
constexpr double kPi = 3.14159265358979323846;

struct Colour {
  double r, g, b;
};
constexpr Colour kPalette[] = {{0.12, 0.47, 0.71}, {1.00, 0.50, 0.05}, {0.17, 0.63, 0.17}, {0.84, 0.15, 0.16},
                               {0.58, 0.40, 0.74}, {0.55, 0.34, 0.29}, {0.89, 0.47, 0.76}, {0.50, 0.50, 0.50},
                               {0.74, 0.74, 0.13}, {0.09, 0.75, 0.81}};
constexpr Colour kBlack{0, 0, 0};
constexpr Colour kGrid{0.85, 0.85, 0.85};
constexpr Colour kGenuine{0.12, 0.47, 0.71};
constexpr Colour kImpostor{0.84, 0.15, 0.16};

struct SurfaceDeleter {
  void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
struct ContextDeleter {
  void operator()(cairo_t* c) const { cairo_destroy(c); }
};
using Surface = std::unique_ptr<cairo_surface_t, SurfaceDeleter>;
using Context = std::unique_ptr<cairo_t, ContextDeleter>;
using Drawing = std::function<void(cairo_t*)>;

void SetColour(cairo_t* cr, const Colour& c, double alpha = 1) { cairo_set_source_rgba(cr, c.r, c.g, c.b, alpha); }

void Text(cairo_t* cr, double x, double y, const std::string& text, double size, double alignX = 0, double angle = 0) {
  cairo_save(cr);
  cairo_set_font_size(cr, size);
  cairo_text_extents_t e;
  cairo_text_extents(cr, text.c_str(), &e);
  cairo_move_to(cr, x, y);
  cairo_rotate(cr, angle);
  cairo_rel_move_to(cr, -alignX * e.x_advance, 0);
  cairo_show_text(cr, text.c_str());
  cairo_restore(cr);
}

std::string PercentLabel(double rate) {
  char text[32];
  const double percent = rate * 100;
  const int decimals = percent >= 1 ? 0 : static_cast<int>(std::ceil(-std::log10(percent) - 1e-9));
  std::snprintf(text, sizeof text, "%.*f %%", decimals, percent);
  return text;
}

// Draws into a PNG and an SVG file of the same size.
bool WriteBoth(const std::string& stem, int width, int height, const Drawing& draw, std::vector<std::string>* written,
               std::string* error) {
  const std::string png = stem + ".png";
  const std::string svg = stem + ".svg";
  {
    Surface surface(cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height));
    Context cr(cairo_create(surface.get()));
    draw(cr.get());
    cairo_surface_flush(surface.get());
    if (cairo_surface_write_to_png(surface.get(), png.c_str()) != CAIRO_STATUS_SUCCESS) {
      *error = png + ": cannot write the picture";
      return false;
    }
  }
  {
    Surface surface(cairo_svg_surface_create(svg.c_str(), width, height));
    Context cr(cairo_create(surface.get()));
    draw(cr.get());
    cr.reset();
    cairo_surface_finish(surface.get());
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) {
      *error = svg + ": cannot write the picture";
      return false;
    }
  }
  written->push_back(png);
  written->push_back(svg);
  return true;
}

struct Curve {
  std::string label;
  const ErrorRates* rates;
  Colour colour;
  bool dashed;
};

void DrawDet(cairo_t* cr, const std::vector<Curve>& curves, const EvaluationSummary& summary) {
  SetColour(cr, {1, 1, 1});
  cairo_paint(cr);
  cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
  // The axes go down to the decade below the smallest non-zero rate.
  double smallest = 1;
  for (const Curve& c : curves) {
    for (const DetPoint& p : c.rates->det) {
      if (p.fmr > 0) smallest = std::min(smallest, p.fmr);
      if (p.fnmr > 0) smallest = std::min(smallest, p.fnmr);
    }
  }
  const int floorExponent =
      std::clamp(static_cast<int>(std::floor(std::log10(smallest))), kFloorExponentMin, kFloorExponentMax);
  const double x0 = kMarginLeft;
  const double y0 = kMarginTop;
  const double w = kDetWidth - kMarginLeft - kDetLegendWidth - kMarginRight;
  const double h = kDetHeight - kMarginTop - kMarginBottom;
  auto position = [&](double rate) {  // 0 .. 1 along an axis; zero rates sit on the axis edge
    const double l = rate > 0 ? std::log10(rate) : floorExponent;
    return std::clamp((l - floorExponent) / -floorExponent, 0.0, 1.0);
  };
  auto px = [&](double fmr) { return x0 + position(fmr) * w; };
  auto py = [&](double fnmr) { return y0 + h - position(fnmr) * h; };

  // Grid: decades and their 2..9 steps.
  cairo_set_line_width(cr, 1);
  for (int e = floorExponent; e <= 0; ++e) {
    for (int m = 1; m <= (e == 0 ? 1 : 9); ++m) {
      const double rate = m * std::pow(10.0, e);
      SetColour(cr, m == 1 ? Colour{0.7, 0.7, 0.7} : kGrid);
      cairo_move_to(cr, px(rate), y0);
      cairo_line_to(cr, px(rate), y0 + h);
      cairo_move_to(cr, x0, py(rate));
      cairo_line_to(cr, x0 + w, py(rate));
      cairo_stroke(cr);
      if (m == 1) {
        SetColour(cr, kBlack);
        Text(cr, px(rate), y0 + h + 18, PercentLabel(rate), kFontSize, 0.5);
        Text(cr, x0 - 8, py(rate) + 4, PercentLabel(rate), kFontSize, 1);
      }
    }
  }
  // The diagonal FMR = FNMR, where the EER lies.
  SetColour(cr, {0.6, 0.6, 0.6});
  const double dash[] = {2, 4};
  cairo_set_dash(cr, dash, 2, 0);
  cairo_move_to(cr, px(std::pow(10.0, floorExponent)), py(std::pow(10.0, floorExponent)));
  cairo_line_to(cr, px(1), py(1));
  cairo_stroke(cr);
  cairo_set_dash(cr, nullptr, 0, 0);
  SetColour(cr, kBlack);
  cairo_rectangle(cr, x0, y0, w, h);
  cairo_stroke(cr);

  for (const Curve& c : curves) {
    if (c.rates->det.empty()) continue;
    SetColour(cr, c.colour);
    cairo_set_line_width(cr, kCurveWidth);
    const double longDash[] = {8, 4};
    cairo_set_dash(cr, longDash, c.dashed ? 2 : 0, 0);
    bool first = true;
    for (const DetPoint& p : c.rates->det) {
      if (first) {
        cairo_move_to(cr, px(p.fmr), py(p.fnmr));
      } else {
        cairo_line_to(cr, px(p.fmr), py(p.fnmr));
      }
      first = false;
    }
    cairo_stroke(cr);
    cairo_set_dash(cr, nullptr, 0, 0);
    if (c.rates->fmrAtThreshold && c.rates->fnmrAtThreshold) {
      cairo_arc(cr, px(*c.rates->fmrAtThreshold), py(*c.rates->fnmrAtThreshold), kMarkRadius, 0, 2 * kPi);
      cairo_fill(cr);
      SetColour(cr, kBlack);
      cairo_set_line_width(cr, 1);
      cairo_arc(cr, px(*c.rates->fmrAtThreshold), py(*c.rates->fnmrAtThreshold), kMarkRadius, 0, 2 * kPi);
      cairo_stroke(cr);
    }
  }

  SetColour(cr, kBlack);
  Text(cr, x0 + w / 2, kDetHeight - 18, "FMR (false match rate)", kFontSize, 0.5);
  Text(cr, 22, y0 + h / 2, "FNMR (false non-match rate)", kFontSize, 0.5, -kPi / 2);
  Text(cr, x0, 30,
       std::string("DET curves, ") + ProtocolName(summary.protocol) + " protocol; dots: threshold " +
           std::to_string(summary.threshold) + "; rates of 0 on the axis edge",
       kTitleSize);
  // Legend.
  double ly = y0 + 10;
  const double lx = x0 + w + 20;
  for (const Curve& c : curves) {
    SetColour(cr, c.colour);
    cairo_set_line_width(cr, kCurveWidth);
    const double longDash[] = {8, 4};
    cairo_set_dash(cr, longDash, c.dashed ? 2 : 0, 0);
    cairo_move_to(cr, lx, ly);
    cairo_line_to(cr, lx + 24, ly);
    cairo_stroke(cr);
    cairo_set_dash(cr, nullptr, 0, 0);
    SetColour(cr, kBlack);
    Text(cr, lx + 30, ly + 4, c.label, kFontSize);
    Text(cr, lx + 30, ly + 20,
         "EER " + Percent(c.rates->eer ? std::optional<double>(c.rates->eer->value) : std::nullopt), kFontSize * 0.9);
    ly += 40;
  }
}

void DrawHistogram(cairo_t* cr, const std::string& name, const std::vector<int32_t>& genuine,
                   const std::vector<int32_t>& impostor, int32_t threshold) {
  SetColour(cr, {1, 1, 1});
  cairo_paint(cr);
  cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
  int32_t top = threshold;
  for (const std::vector<int32_t>* list : {&genuine, &impostor}) {
    for (const int32_t s : *list) top = std::max(top, s);
  }
  const int32_t binWidth = std::max(1, (top + kHistogramBins) / kHistogramBins);
  const int32_t bins = top / binWidth + 1;
  auto shares = [&](const std::vector<int32_t>& list) {
    std::vector<double> share(static_cast<size_t>(bins), 0);
    for (const int32_t s : list) share[static_cast<size_t>(std::max(0, s) / binWidth)] += 1;
    for (double& v : share) v /= std::max<size_t>(1, list.size());
    return share;
  };
  const std::vector<double> g = shares(genuine);
  const std::vector<double> im = shares(impostor);
  double highest = 0;
  for (size_t b = 0; b < g.size(); ++b) highest = std::max({highest, g[b], im[b]});
  if (highest <= 0) highest = 1;
  const double x0 = kMarginLeft;
  const double y0 = kMarginTop;
  const double w = kHistogramWidth - kMarginLeft - kMarginRight;
  const double h = kHistogramHeight - kMarginTop - kMarginBottom;
  const double binPixels = w / bins;
  for (const auto& [share, colour] : {std::pair<const std::vector<double>*, Colour>{&im, kImpostor},
                                      std::pair<const std::vector<double>*, Colour>{&g, kGenuine}}) {
    SetColour(cr, colour, kHistogramAlpha);
    for (size_t b = 0; b < share->size(); ++b) {
      const double bar = (*share)[b] / highest * h;
      cairo_rectangle(cr, x0 + static_cast<double>(b) * binPixels, y0 + h - bar, binPixels, bar);
    }
    cairo_fill(cr);
  }
  SetColour(cr, kBlack);
  cairo_set_line_width(cr, 1);
  cairo_rectangle(cr, x0, y0, w, h);
  cairo_stroke(cr);
  const int32_t step = std::max(1, bins / 10) * binWidth;
  for (int32_t s = 0; s <= top; s += step) {
    const double x = x0 + static_cast<double>(s) / binWidth * binPixels;
    cairo_move_to(cr, x, y0 + h);
    cairo_line_to(cr, x, y0 + h + 5);
    cairo_stroke(cr);
    Text(cr, x, y0 + h + 20, std::to_string(s), kFontSize, 0.5);
  }
  for (int k = 0; k <= 4; ++k) {
    const double y = y0 + h - k * h / 4;
    char label[32];
    std::snprintf(label, sizeof label, "%.0f %%", highest * 100 * k / 4);
    Text(cr, x0 - 8, y + 4, label, kFontSize, 1);
  }
  // The product threshold.
  const double tx = x0 + static_cast<double>(threshold) / binWidth * binPixels;
  SetColour(cr, kBlack);
  cairo_set_line_width(cr, 1.5);
  const double dash[] = {6, 4};
  cairo_set_dash(cr, dash, 2, 0);
  cairo_move_to(cr, tx, y0);
  cairo_line_to(cr, tx, y0 + h);
  cairo_stroke(cr);
  cairo_set_dash(cr, nullptr, 0, 0);
  Text(cr, tx + 4, y0 + 14, "threshold " + std::to_string(threshold), kFontSize);
  Text(cr, x0, 30,
       name + ": score histograms (" + std::to_string(genuine.size()) + " genuine, " + std::to_string(impostor.size()) +
           " impostor; bins of " + std::to_string(binWidth) + ")",
       kTitleSize);
  Text(cr, x0 + w / 2, kHistogramHeight - 18, "score", kFontSize, 0.5);
  Text(cr, 22, y0 + h / 2, "share of the comparisons", kFontSize, 0.5, -kPi / 2);
  SetColour(cr, kGenuine, kHistogramAlpha);
  cairo_rectangle(cr, x0 + w - 150, y0 + 10, 14, 14);
  cairo_fill(cr);
  SetColour(cr, kImpostor, kHistogramAlpha);
  cairo_rectangle(cr, x0 + w - 150, y0 + 30, 14, 14);
  cairo_fill(cr);
  SetColour(cr, kBlack);
  Text(cr, x0 + w - 130, y0 + 22, "genuine", kFontSize);
  Text(cr, x0 + w - 130, y0 + 42, "impostor", kFontSize);
}

}  // namespace

std::string FileNamePart(const std::string& name) {
  std::string out = name;
  for (char& c : out) {
    if (std::isalnum(static_cast<unsigned char>(c)) == 0 && c != '-' && c != '_') c = '_';
  }
  return out;
}

std::vector<std::string> WritePlots(const EvaluationSummary& summary, const std::string& folder, std::string* error) {
  std::vector<std::string> written;
  const std::filesystem::path dir(folder);
  std::vector<Curve> curves;
  for (size_t k = 0; k < summary.sets.size(); ++k) {
    curves.push_back({summary.sets[k].set.name, &summary.sets[k].rates,
                      kPalette[k % (sizeof kPalette / sizeof kPalette[0])], k >= sizeof kPalette / sizeof kPalette[0]});
  }
  if (summary.sets.size() > 1) curves.push_back({"pooled", &summary.pooled, kBlack, true});
  if (!WriteBoth((dir / "det").string(), kDetWidth, kDetHeight, [&](cairo_t* cr) { DrawDet(cr, curves, summary); },
                 &written, error)) {
    return written;
  }
  std::vector<int32_t> allGenuine;
  std::vector<int32_t> allImpostor;
  for (const SetEvaluation& s : summary.sets) {
    std::vector<int32_t> genuine;
    std::vector<int32_t> impostor;
    SplitScores(s.comparisons, &genuine, &impostor);
    allGenuine.insert(allGenuine.end(), genuine.begin(), genuine.end());
    allImpostor.insert(allImpostor.end(), impostor.begin(), impostor.end());
    if (!WriteBoth((dir / ("histogram_" + FileNamePart(s.set.name))).string(), kHistogramWidth, kHistogramHeight,
                   [&](cairo_t* cr) { DrawHistogram(cr, s.set.name, genuine, impostor, summary.threshold); }, &written,
                   error)) {
      return written;
    }
  }
  if (summary.sets.size() > 1) {
    WriteBoth((dir / "histogram_pooled").string(), kHistogramWidth, kHistogramHeight,
              [&](cairo_t* cr) { DrawHistogram(cr, "pooled", allGenuine, allImpostor, summary.threshold); }, &written,
              error);
  }
  return written;
}

}  // namespace vorsensor::evaluation
