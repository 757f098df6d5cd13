#include "run/box_relay.h"

#include <utility>

namespace run {

BoxRelay::BoxRelay(std::shared_ptr<Stop> stop)
    : stop_(std::move(stop)), closes_(*stop_, [this] {
        const std::lock_guard<std::mutex> lock(mutex_);
        answered_.notify_all();
      }) {}

int BoxRelay::ShowMessageBox(const WideString& text, const WideString& caption,
                             std::uint32_t style) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (stop_->Requested()) return IDOK;
  asked_ = Box{text, caption, style};
  answer_.reset();
  wake_.Set();
  answered_.wait(lock,
                 [this] { return answer_.has_value() || stop_->Requested(); });
  asked_.reset();
  return answer_.value_or(IDOK);
}

bool BoxRelay::Asked() {
  const std::lock_guard<std::mutex> lock(mutex_);
  return asked_.has_value() && !answer_.has_value();
}

void BoxRelay::Answer(platform::Desktop& desktop) {
  Box box;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (!asked_.has_value() || answer_.has_value()) return;
    box = *asked_;
    // The run waits for the answer: nothing sets it again before.
    wake_.Reset();
  }
  const int answer = desktop.ShowMessageBox(box.text, box.caption, box.style);
  const std::lock_guard<std::mutex> lock(mutex_);
  answer_ = answer;
  answered_.notify_all();
}

}  // namespace run
