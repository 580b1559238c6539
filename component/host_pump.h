#pragma once
// How a host thread without a message loop of its own lets DataEvent arrive:
// the object's results are handled only while the thread that opened it pumps.
#include <cstdint>
#include <functional>

namespace vorsensor {

// Handles every message waiting for the calling thread (each may fire
// DataEvent); returns how many were handled.
int32_t PumpMessages();

// Pumps until `done` returns true (checked before each wait and after each
// message) or `timeoutMs` of real time have passed; true when `done` held.
bool RunUntil(const std::function<bool()>& done, uint32_t timeoutMs);

}  // namespace vorsensor
