// The template services bound to the extraction entry: the capture template
// service and the component's one enrolment run.
#include "engine/extraction_entry.h"
#include "services/capture_template.h"
#include "services/enrollment_run.h"

namespace vorsensor {
namespace {

int32_t ExtractForRun(void* /*context*/, int32_t resolution, int32_t width, int32_t height, uint8_t* image,
                      uint8_t* record, int32_t capacity, int32_t* length) {
  return ExtractTemplate(width, height, image, resolution, record, capacity, length, nullptr);
}

// The run is process-wide: the component serves one enrolment at a time.
EnrollmentRun& ComponentRun() {
  static EnrollmentRun run;
  return run;
}

}  // namespace

int32_t MakeCaptureTemplate(int32_t resolution, int32_t width, int32_t height, uint8_t* image, uint8_t* sealed,
                            int32_t* length, int32_t* quality) {
  return MakeCaptureTemplateWith(&ExtractTemplate, resolution, width, height, image, sealed, length, quality);
}

int32_t BeginEnrollment(int32_t rejectionLimit) {
  EnrollmentHooks hooks;
  hooks.extract = &ExtractForRun;
  return BeginEnrollment(&ComponentRun(), rejectionLimit, hooks);
}

int32_t EnrollStep(int32_t resolution, int32_t width, int32_t height, uint8_t* image, uint8_t* output,
                   int32_t* length, int32_t* status) {
  return EnrollStep(&ComponentRun(), resolution, width, height, image, output, length, status);
}

void EndEnrollment() { EndEnrollment(&ComponentRun()); }

}  // namespace vorsensor
