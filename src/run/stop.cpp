#include "run/stop.h"

#include <utility>

namespace run {

bool Stop::Request() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (requested_.load()) return false;
  requested_.store(true);
  requester_ = std::this_thread::get_id();
  changed_.notify_all();
  while (first_ != nullptr) {
    StopCallback* callback = first_;
    first_ = callback->next_;
    if (first_ != nullptr) first_->previous_ = nullptr;
    callback->listed_ = false;
    running_ = callback;
    lock.unlock();
    callback->callback_();
    lock.lock();
    running_ = nullptr;
    changed_.notify_all();
  }
  return true;
}

bool Stop::WaitFor(std::chrono::milliseconds wait) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, wait, [this] { return requested_.load(); });
}

StopCallback::StopCallback(Stop& stop, std::function<void()> callback)
    : stop_(stop), callback_(std::move(callback)) {
  {
    const std::lock_guard<std::mutex> lock(stop_.mutex_);
    if (!stop_.requested_.load()) {
      next_ = stop_.first_;
      if (next_ != nullptr) next_->previous_ = this;
      stop_.first_ = this;
      listed_ = true;
      return;
    }
  }
  callback_();
}

StopCallback::~StopCallback() {
  std::unique_lock<std::mutex> lock(stop_.mutex_);
  if (listed_) {
    if (previous_ != nullptr) {
      previous_->next_ = next_;
    } else {
      stop_.first_ = next_;
    }
    if (next_ != nullptr) next_->previous_ = previous_;
    return;
  }
  // Its own callback may end it on the asking thread; elsewhere it waits.
  if (stop_.requester_ == std::this_thread::get_id()) return;
  stop_.changed_.wait(lock, [this] { return stop_.running_ != this; });
}

}  // namespace run
