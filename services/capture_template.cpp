// The capture template service: extract, then seal.
#include "services/capture_template.h"

#include <memory>
#include <new>

#include "engine/template_record.h"
#include "services/template_cipher.h"

namespace vorsensor {

int32_t MakeCaptureTemplateWith(ExtractFunction extract, int32_t resolution, int32_t width, int32_t height,
                                uint8_t* image, uint8_t* sealed, int32_t* length, int32_t* quality) {
  if (extract == nullptr || sealed == nullptr || length == nullptr || quality == nullptr) {
    return 0;
  }
  const std::unique_ptr<uint8_t[]> record(new (std::nothrow) uint8_t[kRecordWorkBufferSize]());
  if (!record) {
    return 0;
  }
  *quality = -1;
  int32_t recordLength = 0;
  const int32_t result = extract(width, height, image, resolution, record.get(),
                                 static_cast<int32_t>(kRecordWorkBufferSize), &recordLength, nullptr, nullptr);
  *length = recordLength;
  if (result < 0 || recordLength < 0 || recordLength > kSealedTemplateBytes) {
    return 0;
  }
  SealTemplateRecord(record.get(), static_cast<size_t>(recordLength), sealed);
  *length = kSealedTemplateBytes;
  *quality = result;
  return 1;
}

}  // namespace vorsensor
