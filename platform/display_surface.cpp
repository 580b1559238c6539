#include "platform/display_surface.h"

#include <map>
#include <memory>

#include "platform/recursive_lock.h"

namespace vorsensor::platform {
namespace {

struct Surface {
  DisplayFrame current;
  int32_t framesKept = 0;
  int64_t draws = 0;
  std::vector<DisplayFrame> kept;
};

// The surfaces of the process, as a window system keeps its windows.
struct SurfaceTable {
  RecursiveLock lock;
  std::map<DisplayHandle, std::unique_ptr<Surface>> surfaces;
  DisplayHandle next = 1;
};

SurfaceTable& Table() {
  static SurfaceTable* table = new SurfaceTable;  // lives as long as the process
  return *table;
}

}  // namespace

DisplayHandle CreateDisplaySurface(int32_t width, int32_t height, int32_t framesKept) {
  if (width < 1 || height < 1 || width > kDisplaySideMax || height > kDisplaySideMax) return 0;
  auto surface = std::make_unique<Surface>();
  surface->current.width = width;
  surface->current.height = height;
  surface->current.pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
  surface->framesKept = framesKept > 0 ? framesKept : 0;
  SurfaceTable& t = Table();
  LockHold hold(t.lock);
  const DisplayHandle handle = t.next++;
  t.surfaces[handle] = std::move(surface);
  return handle;
}

void DestroyDisplaySurface(DisplayHandle surface) {
  SurfaceTable& t = Table();
  LockHold hold(t.lock);
  t.surfaces.erase(surface);
}

bool IsDisplaySurface(DisplayHandle surface) {
  SurfaceTable& t = Table();
  LockHold hold(t.lock);
  return t.surfaces.count(surface) != 0;
}

bool ReadDisplaySurface(DisplayHandle surface, DisplayFrame* frame) {
  SurfaceTable& t = Table();
  LockHold hold(t.lock);
  const auto it = t.surfaces.find(surface);
  if (it == t.surfaces.end() || frame == nullptr) return false;
  *frame = it->second->current;
  return true;
}

int64_t DisplaySurfaceDrawCount(DisplayHandle surface) {
  SurfaceTable& t = Table();
  LockHold hold(t.lock);
  const auto it = t.surfaces.find(surface);
  return it == t.surfaces.end() ? 0 : it->second->draws;
}

std::vector<DisplayFrame> TakeDisplayFrames(DisplayHandle surface) {
  SurfaceTable& t = Table();
  LockHold hold(t.lock);
  const auto it = t.surfaces.find(surface);
  std::vector<DisplayFrame> frames;
  if (it != t.surfaces.end()) frames.swap(it->second->kept);
  return frames;
}

bool DrawIntoDisplaySurface(DisplayHandle surface, const uint8_t* image, int32_t width, int32_t height,
                            PaletteKind kind) {
  PaletteEntry table[kPaletteEntries];
  BuildPalette(kind, table);
  SurfaceTable& t = Table();
  LockHold hold(t.lock);
  const auto it = t.surfaces.find(surface);
  if (it == t.surfaces.end()) return false;
  if (image == nullptr || width < 1 || height < 1) return true;
  Surface& s = *it->second;
  DisplayFrame& out = s.current;
  for (int32_t y = 0; y < out.height; ++y) {
    const uint8_t* row = image + static_cast<size_t>(StretchSourceIndex(y, height, out.height)) * width;
    uint8_t* target = out.pixels.data() + static_cast<size_t>(y) * out.width;
    for (int32_t x = 0; x < out.width; ++x) {
      // Every entry is a grey, so its blue value is the pixel.
      target[x] = table[row[StretchSourceIndex(x, width, out.width)]].blue;
    }
  }
  ++s.draws;
  if (s.framesKept > 0) {
    if (static_cast<int32_t>(s.kept.size()) >= s.framesKept) s.kept.erase(s.kept.begin());
    s.kept.push_back(out);
  }
  return true;
}

}  // namespace vorsensor::platform
