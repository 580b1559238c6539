// The digital line walk: whole-pixel steps along the major axis with the minor
// axis following an accumulator of hundredths.
#include "geometry/digital_line.h"

#include <cstdlib>

namespace vorsensor {

namespace {

constexpr int32_t kLineScale = 100;     // the accumulator counts hundredths of a pixel
constexpr int32_t kRoundUp = 50;        // at or above: the minor coordinate moves up
constexpr int32_t kRoundDown = -49;     // below: the minor coordinate moves down

}  // namespace

DigitalLine StartDigitalLine(int32_t xA, int32_t yA, int32_t xB, int32_t yB) {
  const int32_t dx = xB - xA;
  const int32_t dy = yB - yA;
  DigitalLine line{};
  line.x = xA;
  line.y = yA;
  line.acc = 0;
  line.alongRows = std::abs(dx) <= std::abs(dy);
  if (line.alongRows) {
    line.end = yB;
    line.step = dy >= 1 ? 1 : -1;
    // dy is 0 only when A equals B, and then nothing is visited.
    line.slope = dy != 0 ? dx * kLineScale / std::abs(dy) : 0;
  } else {
    line.end = xB;
    line.step = dx >= 1 ? 1 : -1;
    line.slope = dy * kLineScale / std::abs(dx);
  }
  return line;
}

int32_t AccumulateDigitalLine(int32_t* acc, int32_t slope) {
  int32_t move = 0;
  *acc += slope;
  if (*acc >= kRoundUp) {
    *acc -= kLineScale;
    move += 1;
  }
  if (*acc < kRoundDown) {
    *acc += kLineScale;
    move -= 1;
  }
  return move;
}

void StepDigitalLine(DigitalLine* line) {
  const int32_t move = AccumulateDigitalLine(&line->acc, line->slope);
  if (line->alongRows) {
    line->x += move;
    line->y += line->step;
  } else {
    line->y += move;
    line->x += line->step;
  }
}

}  // namespace vorsensor
