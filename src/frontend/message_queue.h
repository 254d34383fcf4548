// The UI thread's message queue of the front ends that bring their own window (headless,
// terminal): any thread posts, the UI thread pops.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

namespace ost {

struct PostedMessage {
  uint32_t msg = 0;
  uintptr_t wParam = 0;
  intptr_t lParam = 0;
};

class MessageQueue {
 public:
  void Post(const PostedMessage& message);
  // Waits at most `wait` for a message; false when none came.
  bool Pop(PostedMessage* message, std::chrono::milliseconds wait);
  bool Empty() const;

  void RequestQuit();
  bool quitRequested() const { return quit_.load(); }

 private:
  mutable std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<PostedMessage> messages_;
  std::atomic<bool> quit_{false};
};

}  // namespace ost
