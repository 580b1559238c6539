#include "component/jobs.h"

#include <array>

#include "component/capture_cycle.h"
#include "component/display.h"
#include "component/template_text.h"
#include "services/capture_template.h"
#include "services/enrollment_run.h"
#include "services/template_cipher.h"

namespace vorsensor {
namespace {

using TemplateBuffer = std::array<uint8_t, kSealedTemplateBytes>;

// Captures until an image with a finger is taken (true) or the job is
// cancelled (false). Time-outs and device failures start the next cycle.
bool CaptureUntilFinger(SensorState& state, uint8_t* image, int32_t* width, int32_t* height) {
  for (;;) {
    const int32_t result = CaptureFinger(state, image, kCaptureTimeoutMs, width, height);
    if (result == kCaptureDone) return true;
    if (result == kCaptureCancelled) return false;
    if (result == kCaptureFailed) state.clock.Sleep(kFailedCaptureRetryMs);
  }
}

void WriteTemplateText(SensorState& state, const TemplateBuffer& buffer, int32_t length) {
  EncodeTemplateText(buffer.data(), length, state.templateText, sizeof(state.templateText));
}

}  // namespace

bool RunCaptureJob(SensorState& state) {
  TemplateBuffer buffer{};
  int32_t length = 0;
  std::array<uint8_t, kCaptureImageBytes> image{};
  int32_t width = 0;
  int32_t height = 0;
  if (!CaptureUntilFinger(state, image.data(), &width, &height)) return false;
  ShowCapturedImage(state, image.data(), width, height, platform::PaletteKind::kGrey);
  int32_t quality = -1;
  const int32_t made =
      MakeCaptureTemplate(kJobResolution, width, height, image.data(), buffer.data(), &length, &quality);
  ShowCapturedImage(state, image.data(), width, height, platform::PaletteKind::kTwoColour);
  // Without a template the length may still hold the size of a record too long
  // to seal; only a made template is written out, else the text is empty.
  WriteTemplateText(state, buffer, made == 1 ? length : 0);
  return true;
}

bool RunEnrollJob(SensorState& state) {
  TemplateBuffer buffer{};
  int32_t length = 0;
  std::array<uint8_t, kCaptureImageBytes> image{};
  BeginEnrollment(kEnrollRejectionLimit);
  for (;;) {
    int32_t width = 0;
    int32_t height = 0;
    if (!CaptureUntilFinger(state, image.data(), &width, &height)) {
      EndEnrollment();
      return false;
    }
    ShowCapturedImage(state, image.data(), width, height, platform::PaletteKind::kGrey);
    int32_t status = kEnrollMoreNeeded;
    const int32_t ran =
        EnrollStep(kJobResolution, width, height, image.data(), buffer.data(), &length, &status);
    if (ran == 1 && status == kEnrollComplete) {
      ShowCapturedImage(state, image.data(), width, height, platform::PaletteKind::kTwoColour);
      WriteTemplateText(state, buffer, kSealedTemplateBytes);
      EndEnrollment();
      return true;
    }
  }
}

}  // namespace vorsensor
