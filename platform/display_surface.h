#pragma once
// Display surfaces: 8-bit grey pixel areas of a size the host chooses, named
// by a number that is handed to the component like a window handle. ShowImage
// on systems without windows draws into them; the colour table's entries are
// all greys (blue = green = red), so one byte per pixel holds each exactly.
// A surface can keep a copy of every frame drawn into it, for hosts that save
// or show them later. Safe to draw from one thread while another reads.
#include <cstdint>
#include <vector>

#include "platform/display.h"

namespace vorsensor::platform {

constexpr int32_t kDisplaySideMax = 8192;

struct DisplayFrame {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint8_t> pixels;  // rows top first
};

// A new surface of width x height (1..8192 each), filled with 0, that keeps
// up to `framesKept` drawn frames (0: none). 0 when the size is out of range.
DisplayHandle CreateDisplaySurface(int32_t width, int32_t height, int32_t framesKept = 0);
void DestroyDisplaySurface(DisplayHandle surface);
bool IsDisplaySurface(DisplayHandle surface);
// The surface's current pixels; false for an unknown surface.
bool ReadDisplaySurface(DisplayHandle surface, DisplayFrame* frame);
// How many drawings the surface has received (0 for an unknown one).
int64_t DisplaySurfaceDrawCount(DisplayHandle surface);
// Hands over the frames kept since the last call, oldest first.
std::vector<DisplayFrame> TakeDisplayFrames(DisplayHandle surface);

// Draws into a surface as ShowImage does; false for an unknown surface.
bool DrawIntoDisplaySurface(DisplayHandle surface, const uint8_t* image, int32_t width, int32_t height,
                            PaletteKind kind);

// Owns one surface for its scope.
class DisplaySurface {
 public:
  DisplaySurface(int32_t width, int32_t height, int32_t framesKept = 0)
      : handle_(CreateDisplaySurface(width, height, framesKept)) {}
  ~DisplaySurface() { DestroyDisplaySurface(handle_); }
  DisplaySurface(const DisplaySurface&) = delete;
  DisplaySurface& operator=(const DisplaySurface&) = delete;

  DisplayHandle handle() const { return handle_; }
  DisplayFrame Read() const {
    DisplayFrame frame;
    ReadDisplaySurface(handle_, &frame);
    return frame;
  }
  int64_t DrawCount() const { return DisplaySurfaceDrawCount(handle_); }
  std::vector<DisplayFrame> TakeFrames() { return TakeDisplayFrames(handle_); }

 private:
  DisplayHandle handle_;
};

}  // namespace vorsensor::platform
