#pragma once
// Whether a finger lies on the sensor: the central 256 x 256 window of the
// image is cut into 8 x 8 blocks, blocks whose grey values vary enough are
// foreground, the block mask is tidied by neighbourhood rules, and the answer
// comes from the foreground count and the window's mean grey.
#include <cstdint>

namespace vorsensor {

constexpr int32_t kFingerWindowSide = 256;
constexpr int32_t kFingerBlockSide = 8;
constexpr int32_t kBlockMaskSide = kFingerWindowSide / kFingerBlockSide;  // 32
constexpr int32_t kBlockMaskBytes = kBlockMaskSide * kBlockMaskSide;
constexpr uint8_t kBackgroundMaskBlock = 255;
constexpr int32_t kBlockContrastMin = 7;
constexpr uint8_t kFilledBlock = 30;
// A window this dark or darker is a finger whatever its blocks.
constexpr int32_t kFingerMeanGreyMax = 100;
// More than this many foreground blocks is a finger.
constexpr int32_t kFingerBlockCountMin = 512;

// What decided the answer.
struct FingerEvidence {
  bool present = false;
  int32_t foregroundBlocks = 0;
  int32_t meanGrey = 0;
};

// The window's block mask, all passes done. `window` is 256 x 256 bytes with
// a row stride of 256.
void BuildBlockMask(const uint8_t* window, uint8_t* mask);
// The passes of BuildBlockMask, each in place on a 32 x 32 mask.
void SetBlockContrasts(const uint8_t* window, uint8_t* mask);
void CleanUpBlockMask(uint8_t* mask);
void FillMaskRows(uint8_t* mask);
void FillMaskColumns(uint8_t* mask);

// The window is 256 rows of 256 bytes from column (width - 256) / 2 and row
// (height - 256) / 2, read with a row stride of 256 bytes (rows 16..271 of the
// 256 x 288 sensor image). An image too small to hold that window, or a
// missing one, has no finger.
FingerEvidence JudgeFingerImage(const uint8_t* image, int32_t width, int32_t height);
// 0 when a finger is present, -1 when not.
int32_t CheckFingerImage(const uint8_t* image, int32_t width, int32_t height);
// 1 when a finger is present, 0 when not.
int32_t HasFinger(int32_t width, int32_t height, const uint8_t* image);

}  // namespace vorsensor
