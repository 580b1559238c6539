// Message windows across threads: a send waits until the owner pumps, fails at
// once for a window that is gone and when the window goes while it waits;
// messages the handler leaves get 0; names give the same number every time.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/manual_reset_event.h"
#include "platform/message_window.h"
#include "platform/thread.h"

namespace vorsensor::platform {
namespace {

struct Counter {
  uint32_t message = 0;
  std::atomic<int32_t> handled{0};
  std::thread::id thread;
};

bool CountingHandler(void* context, uint32_t message, uintptr_t first, intptr_t second, intptr_t* result) {
  Counter& c = *static_cast<Counter*>(context);
  if (message != c.message) return false;
  c.thread = std::this_thread::get_id();
  ++c.handled;
  *result = static_cast<intptr_t>(first) + second;
  return true;
}

TEST(MessageWindowThreadedTest, SendsAreHandledOnTheOwnersThreadOnlyWhileItPumps) {
  Counter counter;
  counter.message = RegisterMessageName("TEST_MSG");
  EXPECT_EQ(RegisterMessageName("TEST_MSG"), counter.message);
  EXPECT_NE(RegisterMessageName("OTHER_MSG"), counter.message);
  const WindowHandle window = CreateMessageWindow(CountingHandler, &counter);
  ASSERT_NE(window, 0);
  std::atomic<bool> sent{false};
  intptr_t result = 0;
  bool ok = false;
  intptr_t other = -1;
  bool otherOk = false;
  std::thread sender([&] {
    ok = SendMessageTo(window, counter.message, 40, 2, &result);
    otherOk = SendMessageTo(window, counter.message + 1, 1, 1, &other);
    sent = true;
  });
  // Nothing is handled until this thread pumps.
  ASSERT_TRUE(WaitForMessages(10000));
  EXPECT_EQ(counter.handled.load(), 0);
  while (!sent) {
    PumpMessages();
    WaitForMessages(1);
  }
  sender.join();
  EXPECT_TRUE(ok);
  EXPECT_EQ(result, 42);
  EXPECT_TRUE(otherOk);
  EXPECT_EQ(other, 0);
  EXPECT_EQ(counter.thread, std::this_thread::get_id());
  // From the owning thread the handler runs at once.
  EXPECT_TRUE(SendMessageTo(window, counter.message, 1, 2, &result));
  EXPECT_EQ(result, 3);
  DestroyMessageWindow(window);
  EXPECT_FALSE(IsMessageWindow(window));
  EXPECT_FALSE(SendMessageTo(window, counter.message, 1, 2, &result));
}

TEST(MessageWindowThreadedTest, ASendWaitingWhenTheWindowIsDestroyedFails) {
  Counter counter;
  counter.message = RegisterMessageName("TEST_MSG");
  const WindowHandle window = CreateMessageWindow(CountingHandler, &counter);
  std::atomic<int> outcome{-1};
  std::thread sender([&] { outcome = SendMessageTo(window, counter.message, 1, 1, nullptr) ? 1 : 0; });
  ASSERT_TRUE(WaitForMessages(10000));
  DestroyMessageWindow(window);
  sender.join();
  EXPECT_EQ(outcome.load(), 0);
  EXPECT_EQ(counter.handled.load(), 0);
  EXPECT_EQ(PumpMessages(), 0);
}

// A worker that sends to the waiting thread's window before it signals.
struct Handoff {
  WindowHandle window = 0;
  uint32_t message = 0;
  ManualResetEvent done;
  bool sent = false;
};

void SendThenSignal(void* argument) {
  Handoff& h = *static_cast<Handoff*>(argument);
  h.sent = SendMessageTo(h.window, h.message, 0, 0, nullptr);
  h.done.Set();
}

TEST(MessageWindowThreadedTest, WaitingForAnEventStillHandlesSentMessages) {
  Counter counter;
  Handoff handoff;
  counter.message = handoff.message = RegisterMessageName("TEST_MSG");
  handoff.window = CreateMessageWindow(CountingHandler, &counter);
  Thread worker;
  ASSERT_TRUE(worker.Start(SendThenSignal, &handoff));
  EXPECT_TRUE(WaitPumpingMessages(handoff.done, kWaitForever));
  worker.Join();
  EXPECT_TRUE(handoff.sent);
  EXPECT_EQ(counter.handled.load(), 1);
  ManualResetEvent never;
  EXPECT_FALSE(WaitPumpingMessages(never, 5));
  DestroyMessageWindow(handoff.window);
}

TEST(MessageWindowThreadedTest, EachWindowDispatchesToItsOwnContext) {
  Counter first;
  Counter second;
  first.message = second.message = RegisterMessageName("TEST_MSG");
  const WindowHandle a = CreateMessageWindow(CountingHandler, &first);
  const WindowHandle b = CreateMessageWindow(CountingHandler, &second);
  ASSERT_NE(a, b);
  std::thread sender([&] {
    SendMessageTo(b, first.message, 0, 0, nullptr);
    SendMessageTo(b, first.message, 0, 0, nullptr);
    SendMessageTo(a, first.message, 0, 0, nullptr);
  });
  while (first.handled.load() + second.handled.load() < 3) {
    PumpMessages();
    WaitForMessages(1);
  }
  sender.join();
  EXPECT_EQ(first.handled.load(), 1);
  EXPECT_EQ(second.handled.load(), 2);
  DestroyMessageWindow(a);
  DestroyMessageWindow(b);
}

}  // namespace
}  // namespace vorsensor::platform
