#include "component/host_pump.h"

#include <algorithm>

#include "platform/clock.h"
#include "platform/message_window.h"

namespace vorsensor {
namespace {
// Conditions that no message announces (a job ending without an event) are
// looked at again after this long.
constexpr uint64_t kRecheckMs = 2;
}  // namespace

int32_t PumpMessages() { return platform::PumpMessages(); }

bool RunUntil(const std::function<bool()>& done, uint32_t timeoutMs) {
  const platform::Clock& clock = platform::SystemClock();
  const uint64_t start = clock.NowMilliseconds();
  for (;;) {
    platform::PumpMessages();
    if (done()) return true;
    const uint64_t waited = clock.NowMilliseconds() - start;
    if (waited >= timeoutMs) return false;
    platform::WaitForMessages(static_cast<uint32_t>(std::min<uint64_t>(timeoutMs - waited, kRecheckMs)));
  }
}

}  // namespace vorsensor
