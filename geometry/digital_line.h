#pragma once
// The digital line from a point A towards a point B, shared by the singular
// point direction search and the minutiae stages.
//
// The walk runs along the major axis (rows when |dx| <= |dy|, else columns) one
// pixel per step and corrects the minor coordinate by an accumulator in
// hundredths of a pixel. A is visited, B is not; when A equals B nothing is.
//
//   for (DigitalLine line = StartDigitalLine(xA, yA, xB, yB); !DigitalLineDone(line);
//        StepDigitalLine(&line)) {
//     Visit(line.x, line.y);
//   }
#include <cstdint>

namespace vorsensor {

struct DigitalLine {
  int32_t x;          // the pixel to visit next
  int32_t y;
  int32_t end;        // B's coordinate along the major axis
  int32_t slope;      // minor change per major step, in hundredths
  int32_t acc;        // accumulated minor offset, in hundredths
  int32_t step;       // +1 or -1 along the major axis
  bool alongRows;     // the major axis is the row (|dx| <= |dy|)
};

// A line positioned at A.
DigitalLine StartDigitalLine(int32_t xA, int32_t yA, int32_t xB, int32_t yB);

// True once the walk has reached B's row (or column), that is, after the last pixel.
inline bool DigitalLineDone(const DigitalLine& line) { return (line.alongRows ? line.y : line.x) == line.end; }

// Moves to the next pixel of the line.
void StepDigitalLine(DigitalLine* line);

// Adds `slope` to the accumulator and returns the minor-axis correction, -1, 0
// or +1. The two corrections are separate tests applied one after the other:
// at exactly 50 both fire, the position stays and the accumulator is 50 again.
int32_t AccumulateDigitalLine(int32_t* acc, int32_t slope);

}  // namespace vorsensor
