#pragma once
// The enrolment run: several captures of one finger, of which the first three
// that agree pair by pair (a triangle) are merged into one sealed template.
//
// A run is started with BeginEnrollment and fed one captured image per
// EnrollStep until a step ends it. A step extracts a template record, rejects
// it below the quality limit, and otherwise compares it with every capture
// accepted before; the first triangle of mutually agreeing captures is merged,
// sealed and handed back.
//
// The component keeps one run for the whole process (the functions without a
// run argument); the functions taking an EnrollmentRun serve any run, with
// the engine operations given as hooks so that a run can be driven without
// images (tests, the command-line tool).
#include <cstddef>
#include <cstdint>
#include <memory>

namespace vorsensor {

constexpr int32_t kEnrollCaptureSlots = 12;
constexpr int32_t kEnrollMergeSlots = 3;
constexpr size_t kEnrollSlotBytes = 2048;
constexpr int32_t kEnrollPairCapacity = 144;
constexpr int32_t kEnrollQualityMin = 120;  // captures below this quality are rejected
constexpr int32_t kEnrollStepLimit = 12;    // the step that reaches it ends the run unseen
constexpr int32_t kEnrollResolution = 500;  // dots per inch of the component's images
constexpr int32_t kEnrollRejectionLimit = 10;  // the limit the enrolment job passes

// Status of EnrollStep.
constexpr int32_t kEnrollComplete = 0;         // the output holds a 500-byte sealed template
constexpr int32_t kEnrollMoreNeeded = 1;       // capture accepted or rejected; the run goes on
constexpr int32_t kEnrollMergeFailed = -1;     // the merge failed or its record exceeds 500 bytes
constexpr int32_t kEnrollNotActive = -2;       // no active run: the step did nothing
constexpr int32_t kEnrollTooManyRejections = -3;
constexpr int32_t kEnrollTooManySteps = -4;
constexpr int32_t kEnrollOutOfMemory = -101;   // the run's slots or the merge's record are missing

using EnrollBuffer = std::unique_ptr<uint8_t[]>;

// What a run asks of the engine. `extract` must be given (without it every
// capture counts as one that cannot be extracted); the other hooks left null
// take the production ones: CompareForMerge and MergeTemplates with the
// engine's own configuration, and zero-filled heap buffers.
struct EnrollmentHooks {
  void* context = nullptr;
  // Extracts a record of at most `capacity` bytes into `record`, its length
  // into *length; returns the image quality 0..255 or a negative code.
  int32_t (*extract)(void* context, int32_t resolution, int32_t width, int32_t height, uint8_t* image,
                     uint8_t* record, int32_t capacity, int32_t* length) = nullptr;
  // Whether two records (kEnrollSlotBytes each) agree: 0 or more with
  // *matched set, or a negative code (counted as no match).
  int32_t (*compare)(void* context, const uint8_t* first, const uint8_t* second, int32_t* matched) = nullptr;
  // Merges three records (kEnrollSlotBytes each) into `output` (room for
  // kEnrollSlotBytes), its length into *length; the base index or negative.
  int32_t (*merge)(void* context, const uint8_t* const records[kEnrollMergeSlots], uint8_t* output,
                   int32_t* length) = nullptr;
  // A zero-filled buffer of `bytes`, or null when memory is short.
  EnrollBuffer (*allocate)(void* context, size_t bytes) = nullptr;
};

struct EnrollmentRun {
  int32_t active = 0;
  int32_t stepCount = 0;
  int32_t rejectionLimit = 0;
  int32_t rejectionCount = 0;
  int32_t acceptedCount = 0;  // also the next free capture slot
  EnrollBuffer captureSlots[kEnrollCaptureSlots];
  EnrollBuffer mergeSlots[kEnrollMergeSlots];
  int32_t pairs[kEnrollPairCapacity][2] = {};  // every matching pair, both ways
  int32_t pairCount = 0;
  int32_t merged = 0;
  // The captures copied into merge slots 0, 1, 2 (-1 before a triangle).
  int32_t mergeIndices[kEnrollMergeSlots] = {-1, -1, -1};
  EnrollmentHooks hooks;
};

// Starts `run` over: releases what an earlier run left, stores the limit and
// the hooks, zeroes the counts and the pair list, marks the run active and
// allocates the merge and capture slots. Returns 1, or 0 when an allocation
// failed (the slots are released again; the run stays active and its next
// step ends it with kEnrollOutOfMemory).
int32_t BeginEnrollment(EnrollmentRun* run, int32_t rejectionLimit, const EnrollmentHooks& hooks = {});

// One capture: `image` of width x height at `resolution` dots per inch.
// *status receives the step's status; on kEnrollComplete `output` (500
// bytes) holds the sealed template and *length 500. Returns 0 together with
// kEnrollNotActive (and when `status` is null), else 1.
int32_t EnrollStep(EnrollmentRun* run, int32_t resolution, int32_t width, int32_t height, uint8_t* image,
                   uint8_t* output, int32_t* length, int32_t* status);

// Releases the merge and capture slots that exist.
void EndEnrollment(EnrollmentRun* run);

// The component's one run, extracting with the extraction entry and the
// engine's own configuration (services/extraction_binding.cpp).
int32_t BeginEnrollment(int32_t rejectionLimit);
int32_t EnrollStep(int32_t resolution, int32_t width, int32_t height, uint8_t* image, uint8_t* output,
                   int32_t* length, int32_t* status);
void EndEnrollment();

}  // namespace vorsensor
