#pragma once
// The clock every wait of the sensor protocol and the capture cycle goes
// through. The system clock really sleeps; a virtual clock (virtual_clock.h)
// only moves its time forward, so the long fixed waits of the protocol cost
// nothing in tests and the simulated sensor sees them as elapsed time.
#include <cstdint>

namespace vorsensor::platform {

class Clock {
 public:
  virtual ~Clock() = default;
  // Waits the given number of milliseconds (Sleep).
  virtual void Sleep(uint32_t milliseconds) = 0;
  // A monotonic time in milliseconds from an arbitrary start.
  virtual uint64_t NowMilliseconds() const = 0;
  // Calendar time in whole seconds, as the C library's time() gives it.
  virtual int64_t Seconds() const = 0;
};

// The process's real clock (one instance, never destroyed).
Clock& SystemClock();

}  // namespace vorsensor::platform
