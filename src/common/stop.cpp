#include "common/stop.h"

#include <utility>

namespace common {

bool Stop::Request() {
  common::Lock lock(mutex_);
  if (requested_.load()) return false;
  requested_.store(true);
  requester_ = std::this_thread::get_id();
#ifndef DIGESTBOX_DROP_STOP_WAKEUPS  // a build whose suite must then fail
  changed_.NotifyAll();
  while (first_ != nullptr) {
    StopCallback* callback = first_;
    callback->stop_.mutex_.AssertHeld();  // a listed one's stop is this
    first_ = callback->next_;
    if (first_ != nullptr) {
      first_->stop_.mutex_.AssertHeld();
      first_->previous_ = nullptr;
    }
    callback->listed_ = false;
    running_ = callback;
    lock.Unlock();
    callback->callback_();
    lock.Relock();
    running_ = nullptr;
    changed_.NotifyAll();
  }
#endif
  return true;
}

bool Stop::WaitFor(std::chrono::milliseconds wait) {
  const auto deadline = std::chrono::steady_clock::now() + wait;
  common::Lock lock(mutex_);
  while (!requested_.load()) {
    if (!changed_.WaitUntil(lock, deadline)) return requested_.load();
  }
  return true;
}

StopCallback::StopCallback(Stop& stop, std::function<void()> callback)
    : stop_(stop), callback_(std::move(callback)) {
  {
    const common::Lock lock(stop_.mutex_);
    if (!stop_.requested_.load()) {
      next_ = stop_.first_;
      if (next_ != nullptr) {
        next_->stop_.mutex_.AssertHeld();
        next_->previous_ = this;
      }
      stop_.first_ = this;
      listed_ = true;
      return;
    }
  }
  callback_();
}

StopCallback::~StopCallback() {
  common::Lock lock(stop_.mutex_);
  if (listed_) {
    if (previous_ != nullptr) {
      previous_->stop_.mutex_.AssertHeld();  // on the same stop's list
      previous_->next_ = next_;
    } else {
      stop_.first_ = next_;
    }
    if (next_ != nullptr) {
      next_->stop_.mutex_.AssertHeld();
      next_->previous_ = previous_;
    }
    return;
  }
  // Its own callback may end it on the asking thread; elsewhere it waits.
  if (stop_.requester_ == std::this_thread::get_id()) return;
  while (stop_.running_ == this) stop_.changed_.Wait(lock);
}

}  // namespace common
