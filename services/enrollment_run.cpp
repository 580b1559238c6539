// The enrolment run: captures, rejections, the pair list and the triangle
// that is merged into the enrolled template.
#include "services/enrollment_run.h"

#include <cstring>
#include <new>

#include "engine/result_codes.h"
#include "services/template_cipher.h"
#include "services/template_merge.h"

namespace vorsensor {
namespace {

int32_t CompareRecords(void* /*context*/, const uint8_t* first, const uint8_t* second, int32_t* matched) {
  return CompareForMerge(first, kEnrollSlotBytes, second, kEnrollSlotBytes, matched);
}

int32_t MergeRecords(void* /*context*/, const uint8_t* const records[kEnrollMergeSlots], uint8_t* output,
                     int32_t* length) {
  return MergeTemplates(kEnrollMergeSlots, records, kEnrollSlotBytes, output, kEnrollSlotBytes, length);
}

EnrollBuffer AllocateZeroed(void* /*context*/, size_t bytes) { return EnrollBuffer(new (std::nothrow) uint8_t[bytes]()); }

EnrollmentHooks WithDefaults(const EnrollmentHooks& hooks) {
  EnrollmentHooks h = hooks;
  if (h.compare == nullptr) h.compare = &CompareRecords;
  if (h.merge == nullptr) h.merge = &MergeRecords;
  if (h.allocate == nullptr) h.allocate = &AllocateZeroed;
  return h;
}

bool SlotsExist(const EnrollmentRun& run) {
  for (const EnrollBuffer& slot : run.mergeSlots) {
    if (!slot) return false;
  }
  for (const EnrollBuffer& slot : run.captureSlots) {
    if (!slot) return false;
  }
  return true;
}

bool PairStored(const EnrollmentRun& run, int32_t a, int32_t b) {
  for (int32_t k = 0; k < run.pairCount; ++k) {
    if (run.pairs[k][0] == a && run.pairs[k][1] == b) return true;
  }
  return false;
}

void StorePair(EnrollmentRun* run, int32_t a, int32_t b) {
  // At most 11 captures are ever accepted, so 110 entries suffice; the guard
  // only keeps a changed limit from writing past the list.
  if (run->pairCount < kEnrollPairCapacity) {
    run->pairs[run->pairCount][0] = a;
    run->pairs[run->pairCount][1] = b;
    ++run->pairCount;
  }
}

// The partner b of the earliest stored pair (i, b) for which (b, newest) is
// stored too, or -1.
int32_t FindTriangle(const EnrollmentRun& run, int32_t i, int32_t newest) {
  for (int32_t k = 0; k < run.pairCount; ++k) {
    if (run.pairs[k][0] == i && PairStored(run, run.pairs[k][1], newest)) return run.pairs[k][1];
  }
  return -1;
}

// Ends the run with `runStatus`; returns 1 as every step that ran does.
int32_t EndRun(EnrollmentRun* run, int32_t* status, int32_t runStatus) {
  EndEnrollment(run);
  run->active = 0;
  *status = runStatus;
  return 1;
}

// Merges the triangle in the merge slots and seals the result into `output`.
int32_t MergeAndSeal(EnrollmentRun* run, uint8_t* output, int32_t* length) {
  EnrollBuffer record = run->hooks.allocate(run->hooks.context, kEnrollSlotBytes);
  if (!record) return kEnrollOutOfMemory;
  const uint8_t* const records[kEnrollMergeSlots] = {run->mergeSlots[0].get(), run->mergeSlots[1].get(),
                                                     run->mergeSlots[2].get()};
  int32_t recordLength = 0;
  const int32_t base = run->hooks.merge(run->hooks.context, records, record.get(), &recordLength);
  if (base < 0 || recordLength < 0 || recordLength > kSealedTemplateBytes || output == nullptr ||
      length == nullptr) {
    return kEnrollMergeFailed;
  }
  if (SealTemplateRecord(record.get(), static_cast<size_t>(recordLength), output) != kSealedTemplateBytes) {
    return kEnrollMergeFailed;
  }
  *length = kSealedTemplateBytes;
  return kEnrollComplete;
}

}  // namespace

int32_t BeginEnrollment(EnrollmentRun* run, int32_t rejectionLimit, const EnrollmentHooks& hooks) {
  EndEnrollment(run);
  run->hooks = WithDefaults(hooks);
  run->rejectionLimit = rejectionLimit;
  run->pairCount = 0;
  std::memset(run->pairs, 0, sizeof run->pairs);
  run->stepCount = 0;
  run->rejectionCount = 0;
  run->acceptedCount = 0;
  run->merged = 0;
  for (int32_t& index : run->mergeIndices) index = -1;
  // Active before the slots exist: a run whose slots could not be had is
  // still ended by its next step (kEnrollOutOfMemory) rather than left open.
  run->active = 1;
  for (EnrollBuffer& slot : run->mergeSlots) {
    slot = run->hooks.allocate(run->hooks.context, kEnrollSlotBytes);
    if (!slot) {
      EndEnrollment(run);
      return 0;
    }
  }
  for (EnrollBuffer& slot : run->captureSlots) {
    slot = run->hooks.allocate(run->hooks.context, kEnrollSlotBytes);
    if (!slot) {
      EndEnrollment(run);
      return 0;
    }
  }
  return 1;
}

void EndEnrollment(EnrollmentRun* run) {
  for (EnrollBuffer& slot : run->mergeSlots) slot.reset();
  for (EnrollBuffer& slot : run->captureSlots) slot.reset();
}

int32_t EnrollStep(EnrollmentRun* run, int32_t resolution, int32_t width, int32_t height, uint8_t* image,
                   uint8_t* output, int32_t* length, int32_t* status) {
  if (status == nullptr) return 0;
  if (run->active == 0) {
    *status = kEnrollNotActive;
    return 0;
  }
  if (!SlotsExist(*run)) return EndRun(run, status, kEnrollOutOfMemory);
  ++run->stepCount;
  if (run->stepCount == kEnrollStepLimit) {
    run->active = 0;  // the slots stay until the next run begins
    *status = kEnrollTooManySteps;
    return 1;
  }

  const int32_t newest = run->acceptedCount;
  uint8_t* slot = run->captureSlots[newest].get();
  int32_t recordLength = 0;
  const int32_t quality =
      run->hooks.extract == nullptr
          ? kMissingArgument
          : run->hooks.extract(run->hooks.context, resolution, width, height, image, slot,
                               static_cast<int32_t>(kEnrollSlotBytes), &recordLength);
  if (quality < kEnrollQualityMin) {
    ++run->rejectionCount;
    if (run->rejectionCount == run->rejectionLimit) {
      run->active = 0;
      *status = kEnrollTooManyRejections;
      return 1;
    }
    *status = kEnrollMoreNeeded;
    return 1;
  }

  run->acceptedCount = newest + 1;
  int32_t triangle[kEnrollMergeSlots] = {-1, -1, -1};
  for (int32_t i = 0; i < newest && triangle[0] < 0; ++i) {
    int32_t matched = 0;
    const int32_t r = run->hooks.compare(run->hooks.context, run->captureSlots[i].get(), slot, &matched);
    if (r < 0 || matched == 0) continue;
    const int32_t b = FindTriangle(*run, i, newest);
    if (b >= 0) {
      triangle[0] = i;
      triangle[1] = b;
      triangle[2] = newest;
    } else {
      StorePair(run, i, newest);
      StorePair(run, newest, i);
    }
  }
  if (triangle[0] < 0) {
    *status = kEnrollMoreNeeded;
    return 1;
  }

  for (int32_t k = 0; k < kEnrollMergeSlots; ++k) {
    std::memcpy(run->mergeSlots[k].get(), run->captureSlots[triangle[k]].get(), kEnrollSlotBytes);
    run->mergeIndices[k] = triangle[k];
  }
  run->merged = 1;
  return EndRun(run, status, MergeAndSeal(run, output, length));
}

}  // namespace vorsensor
