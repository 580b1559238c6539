#pragma once
// The object's DataEvent connection point: the sinks a host has connected,
// each called on the host's thread when a job has finished.
#include <cstdint>
#include <string>
#include <vector>

namespace vorsensor {

class DataEventSink {
 public:
  virtual ~DataEventSink() = default;
  // `status` is a Data value; `text` the job's template text (empty when the
  // capture gave no template). Each sink receives its own copy.
  virtual void DataEvent(int32_t status, const std::string& text) = 0;
};

class EventSinks {
 public:
  // Connects `sink` in the first empty place; returns its cookie (place + 1),
  // 0 for a null sink.
  uint32_t Advise(DataEventSink* sink);
  // Empties the cookie's place; false for a cookie that names no sink.
  bool Unadvise(uint32_t cookie);
  // Calls DataEvent on every sink connected in the places that existed when
  // firing began, in place order; a sink connected or disconnected meanwhile
  // is taken as its place holds it when its turn comes. A sink that throws
  // does not stop the others. Returns how many sinks were called.
  int32_t Fire(int32_t status, const char* text);
  int32_t Count() const;

 private:
  std::vector<DataEventSink*> places_;
};

}  // namespace vorsensor
