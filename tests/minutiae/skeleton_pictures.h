#pragma once
// Skeleton test images drawn as text: '#' is a ridge pixel (0), '.' anything
// else (255). Pictures are placed on a larger blank image at an offset, so
// that a few lines of text describe a shape well inside the stage margins.
#include <cstdint>
#include <string>
#include <vector>

#include "engine/row_image.h"

namespace vorsensor::testing {

using Picture = std::vector<std::string>;

inline RowImage BlankImage(int32_t w, int32_t h, uint8_t value = 255) {
  RowImage image = AllocRowImage(w, h);
  FillRowImage(image, value);
  return image;
}

// Draws `picture` with its top-left character at (x0, y0).
inline void Place(RowImage& image, const Picture& picture, int32_t x0, int32_t y0) {
  for (size_t r = 0; r < picture.size(); ++r) {
    for (size_t c = 0; c < picture[r].size(); ++c) {
      if (picture[r][c] == '#') image[y0 + static_cast<int32_t>(r)][x0 + static_cast<int32_t>(c)] = 0;
    }
  }
}

inline RowImage PictureImage(int32_t w, int32_t h, const Picture& picture, int32_t x0, int32_t y0) {
  RowImage image = BlankImage(w, h);
  Place(image, picture, x0, y0);
  return image;
}

// The w x h window of `image` from (x0, y0) as text ('#' for 0, '.' for 255, '?' else).
inline Picture Crop(const RowImage& image, int32_t x0, int32_t y0, int32_t w, int32_t h) {
  Picture picture;
  for (int32_t r = y0; r < y0 + h; ++r) {
    std::string line;
    for (int32_t c = x0; c < x0 + w; ++c) line += image[r][c] == 0 ? '#' : image[r][c] == 255 ? '.' : '?';
    picture.push_back(line);
  }
  return picture;
}

inline Picture WholePicture(const RowImage& image) { return Crop(image, 0, 0, image.width(), image.height()); }

// A horizontal or vertical run of ridge pixels, both ends included.
inline void HorizontalRidge(RowImage& image, int32_t y, int32_t x1, int32_t x2) {
  for (int32_t x = x1; x <= x2; ++x) image[y][x] = 0;
}
inline void VerticalRidge(RowImage& image, int32_t x, int32_t y1, int32_t y2) {
  for (int32_t y = y1; y <= y2; ++y) image[y][x] = 0;
}

// A 20 x 20 fork at (10, 10) with arms N, E and SW: the first step of a walk
// (to N) sets E and W aside.
inline RowImage ForkNorthEastSouthWest() {
  RowImage image = BlankImage(20, 20);
  VerticalRidge(image, 10, 3, 10);
  HorizontalRidge(image, 10, 10, 17);
  for (int32_t i = 1; i <= 6; ++i) image[10 + i][10 - i] = 0;
  return image;
}

}  // namespace vorsensor::testing
