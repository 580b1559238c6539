// Message windows without a window system: each thread that owns windows has
// a queue of messages sent to them; a sender waits on its message until the
// owner's pump has handled it or the window is destroyed. One lock and one
// condition variable serve every queue (there are few windows and messages).
#include "platform/message_window.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <iterator>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace vorsensor::platform {
namespace {

constexpr uint32_t kFirstRegisteredMessage = 0xC000;  // as the window system numbers them
constexpr WindowHandle kFirstWindow = 0x10;
constexpr uint32_t kEventPollMs = 1;

enum class SendState { kPending, kDone, kFailed };

struct SentMessage {
  WindowHandle window = 0;
  uint32_t message = 0;
  uintptr_t first = 0;
  intptr_t second = 0;
  intptr_t result = 0;
  SendState state = SendState::kPending;
};

struct Window {
  std::thread::id owner;
  MessageHandler handler = nullptr;
  void* context = nullptr;
};

struct Registry {
  std::mutex mutex;
  std::condition_variable changed;
  std::map<std::string, uint32_t> names;
  std::map<WindowHandle, Window> windows;
  std::map<std::thread::id, std::deque<SentMessage*>> queues;
  WindowHandle nextWindow = kFirstWindow;
};

Registry& TheRegistry() {
  static Registry* registry = new Registry;  // lives as long as the process
  return *registry;
}

bool HasMessagesLocked(Registry& r) {
  const auto q = r.queues.find(std::this_thread::get_id());
  return q != r.queues.end() && !q->second.empty();
}

// Handles the oldest message for the calling thread; false when none waits.
// Called and returns with the lock held; the handler runs without it.
bool DispatchOneLocked(Registry& r, std::unique_lock<std::mutex>& lock) {
  const auto q = r.queues.find(std::this_thread::get_id());
  if (q == r.queues.end() || q->second.empty()) return false;
  SentMessage* m = q->second.front();
  q->second.pop_front();
  if (q->second.empty()) r.queues.erase(q);
  const auto w = r.windows.find(m->window);
  if (w == r.windows.end()) {
    m->state = SendState::kFailed;
    r.changed.notify_all();
    return true;
  }
  const Window window = w->second;
  const uint32_t message = m->message;
  const uintptr_t first = m->first;
  const intptr_t second = m->second;
  lock.unlock();
  intptr_t result = 0;
  const bool handled = window.handler != nullptr && window.handler(window.context, message, first, second, &result);
  lock.lock();
  m->result = handled ? result : 0;
  m->state = SendState::kDone;  // the sender may return as soon as the lock is released
  r.changed.notify_all();
  return true;
}

}  // namespace

uint32_t RegisterMessageName(const char* name) {
  if (name == nullptr || *name == '\0') return 0;
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> hold(r.mutex);
  const auto found = r.names.find(name);
  if (found != r.names.end()) return found->second;
  const uint32_t id = kFirstRegisteredMessage + static_cast<uint32_t>(r.names.size());
  r.names.emplace(name, id);
  return id;
}

WindowHandle CreateMessageWindow(MessageHandler handler, void* context) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> hold(r.mutex);
  const WindowHandle handle = r.nextWindow++;
  r.windows[handle] = Window{std::this_thread::get_id(), handler, context};
  return handle;
}

void DestroyMessageWindow(WindowHandle window) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> hold(r.mutex);
  if (r.windows.erase(window) == 0) return;
  for (auto q = r.queues.begin(); q != r.queues.end();) {
    std::deque<SentMessage*>& queue = q->second;
    for (auto m = queue.begin(); m != queue.end();) {
      if ((*m)->window == window) {
        (*m)->state = SendState::kFailed;
        m = queue.erase(m);
      } else {
        ++m;
      }
    }
    q = queue.empty() ? r.queues.erase(q) : std::next(q);
  }
  r.changed.notify_all();
}

bool IsMessageWindow(WindowHandle window) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> hold(r.mutex);
  return r.windows.count(window) != 0;
}

bool SendMessageTo(WindowHandle window, uint32_t message, uintptr_t first, intptr_t second, intptr_t* result) {
  Registry& r = TheRegistry();
  std::unique_lock<std::mutex> lock(r.mutex);
  const auto w = r.windows.find(window);
  if (w == r.windows.end()) return false;
  if (w->second.owner == std::this_thread::get_id()) {
    const Window target = w->second;
    lock.unlock();
    intptr_t handled = 0;
    if (target.handler == nullptr || !target.handler(target.context, message, first, second, &handled)) handled = 0;
    if (result != nullptr) *result = handled;
    return true;
  }
  SentMessage m{window, message, first, second, 0, SendState::kPending};
  r.queues[w->second.owner].push_back(&m);
  r.changed.notify_all();
  while (m.state == SendState::kPending) {
    // Messages sent to this thread's own windows are handled while it waits,
    // so two threads sending to each other do not block each other.
    if (DispatchOneLocked(r, lock)) continue;
    r.changed.wait(lock);
  }
  if (result != nullptr) *result = m.result;
  return m.state == SendState::kDone;
}

int32_t PumpMessages() {
  Registry& r = TheRegistry();
  std::unique_lock<std::mutex> lock(r.mutex);
  int32_t handled = 0;
  while (DispatchOneLocked(r, lock)) ++handled;
  return handled;
}

bool WaitForMessages(uint32_t milliseconds) {
  Registry& r = TheRegistry();
  std::unique_lock<std::mutex> lock(r.mutex);
  const auto waiting = [&r] { return HasMessagesLocked(r); };
  if (milliseconds == kWaitForever) {
    r.changed.wait(lock, waiting);
    return true;
  }
  return r.changed.wait_for(lock, std::chrono::milliseconds(milliseconds), waiting);
}

bool WaitPumpingMessages(const ManualResetEvent& event, uint32_t milliseconds) {
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    PumpMessages();
    if (event.Wait(kEventPollMs)) return true;
    if (milliseconds != kWaitForever) {
      const auto waited = std::chrono::steady_clock::now() - start;
      if (waited >= std::chrono::milliseconds(milliseconds)) return false;
    }
  }
}

}  // namespace vorsensor::platform
