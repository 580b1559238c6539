// The real clock on Windows: Sleep, the tick count and the C library's time().
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0600
#endif
#include <windows.h>

#include <ctime>

#include "platform/clock.h"

namespace vorsensor::platform {
namespace {

class Win32Clock final : public Clock {
 public:
  void Sleep(uint32_t milliseconds) override { ::Sleep(milliseconds); }
  uint64_t NowMilliseconds() const override { return static_cast<uint64_t>(::GetTickCount64()); }
  int64_t Seconds() const override { return static_cast<int64_t>(std::time(nullptr)); }
};

}  // namespace

Clock& SystemClock() {
  static Win32Clock clock;
  return clock;
}

}  // namespace vorsensor::platform
