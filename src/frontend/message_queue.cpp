#include "frontend/message_queue.h"

namespace ost {

void MessageQueue::Post(const PostedMessage& message) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    messages_.push_back(message);
  }
  ready_.notify_one();
}

bool MessageQueue::Pop(PostedMessage* message, std::chrono::milliseconds wait) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!ready_.wait_for(lock, wait, [this] { return !messages_.empty() || quit_.load(); })) {
    return false;
  }
  if (messages_.empty()) return false;
  *message = messages_.front();
  messages_.pop_front();
  return true;
}

bool MessageQueue::Empty() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return messages_.empty();
}

void MessageQueue::RequestQuit() {
  quit_ = true;
  ready_.notify_all();
}

}  // namespace ost
