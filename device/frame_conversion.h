#pragma once
// Turning a raw sensor frame into the 256 x 288 grey image: the 352 pixels of
// each raw row go to a sensor plane, half of them are filled in from their
// neighbours (checkerboard fill), the rows are mirrored, each row's centre
// span is resampled to 256 columns (keystone), and the rows are stretched by
// 17/16. The stages work between two preallocated planes and allocate nothing.
#include <cstdint>

namespace vorsensor {

// Pixels where x and y are both even or both odd become the mean of their
// four neighbours inside the plane (divided by 4 inside, 3 on the border, 2 at
// the corners); the others are copied. width and height at least 2.
void CheckerboardFill(const uint8_t* source, uint8_t* target, int32_t width, int32_t height);
// Reverses every row.
void MirrorRows(const uint8_t* source, uint8_t* target, int32_t width, int32_t height);
// The keystone margin of a sensor row: 20 at the top down to 5 at row 287.
int32_t KeystoneMargin(int32_t row);
// Sensor plane (352 x 288) to 256 x 288: row y's columns m .. 351-m squeezed
// to 256 columns, with m its keystone margin.
void KeystoneResample(const uint8_t* source, uint8_t* target);
// 256 x 288 to 256 x 288: source rows 8..279 with a mean row put in after
// every 16 rows (output rows 16, 33, ..., 271).
void RowStretch(const uint8_t* source, uint8_t* target);

// The whole conversion of a frame buffer of which the driver reported
// `bytesReturned` bytes. A count other than a full frame gives the all-white
// image. planeA and planeB are the two working planes (352 x 288 each).
// Returns true when the frame was full.
bool ConvertRawFrame(const uint8_t* raw, uint32_t bytesReturned, uint8_t* planeA, uint8_t* planeB, uint8_t* image);

}  // namespace vorsensor
