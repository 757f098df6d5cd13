#include "run/box_relay.h"

#include <utility>

namespace run {

BoxRelay::BoxRelay(std::shared_ptr<common::Stop> stop)
    : stop_(std::move(stop)), closes_(*stop_, [this] {
        const common::Lock lock(mutex_);
        answered_.NotifyAll();
      }) {}

int BoxRelay::ShowMessageBox(const common::WideString& text,
                             const common::WideString& caption,
                             std::uint32_t style) {
  common::Lock lock(mutex_);
  if (stop_->Requested()) return desktop::IDOK;
  asked_ = Box{text, caption, style};
  answer_.reset();
  wake_.Set();
  while (!answer_.has_value() && !stop_->Requested()) answered_.Wait(lock);
  asked_.reset();
  return answer_.value_or(desktop::IDOK);
}

bool BoxRelay::Asked() {
  const common::Lock lock(mutex_);
  return asked_.has_value() && !answer_.has_value();
}

void BoxRelay::Answer(desktop::Desktop& desktop) {
  Box box;
  {
    const common::Lock lock(mutex_);
    if (!asked_.has_value() || answer_.has_value()) return;
    box = *asked_;
    // The run waits for the answer: nothing sets it again before.
    wake_.Reset();
  }
  const int answer = desktop.ShowMessageBox(box.text, box.caption, box.style);
  const common::Lock lock(mutex_);
  answer_ = answer;
  answered_.NotifyAll();
}

}  // namespace run
