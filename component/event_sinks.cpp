#include "component/event_sinks.h"

#include <algorithm>

namespace vorsensor {

uint32_t EventSinks::Advise(DataEventSink* sink) {
  if (sink == nullptr) return 0;
  auto empty = std::find(places_.begin(), places_.end(), nullptr);
  if (empty == places_.end()) {
    places_.push_back(sink);
    return static_cast<uint32_t>(places_.size());
  }
  *empty = sink;
  return static_cast<uint32_t>(empty - places_.begin()) + 1;
}

bool EventSinks::Unadvise(uint32_t cookie) {
  if (cookie == 0 || cookie > places_.size() || places_[cookie - 1] == nullptr) return false;
  places_[cookie - 1] = nullptr;
  return true;
}

int32_t EventSinks::Fire(int32_t status, const char* text) {
  const size_t count = places_.size();
  int32_t called = 0;
  for (size_t i = 0; i < count; ++i) {
    // A sink may connect or disconnect others (or itself) from its handler.
    DataEventSink* sink = i < places_.size() ? places_[i] : nullptr;
    if (sink == nullptr) continue;
    try {
      const std::string copy(text != nullptr ? text : "");
      sink->DataEvent(status, copy);
    } catch (...) {
      // No exception crosses the object's boundary; the next sinks still run.
    }
    ++called;
  }
  return called;
}

int32_t EventSinks::Count() const {
  return static_cast<int32_t>(std::count_if(places_.begin(), places_.end(), [](DataEventSink* s) { return s; }));
}

}  // namespace vorsensor
