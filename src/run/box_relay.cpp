#include "run/box_relay.h"

#include <utility>

namespace run {

BoxRelay::BoxRelay(std::shared_ptr<Stop> stop)
    : stop_(std::move(stop)), closes_(*stop_, [this] {
        const Lock lock(mutex_);
        answered_.NotifyAll();
      }) {}

int BoxRelay::ShowMessageBox(const WideString& text, const WideString& caption,
                             std::uint32_t style) {
  Lock lock(mutex_);
  if (stop_->Requested()) return IDOK;
  asked_ = Box{text, caption, style};
  answer_.reset();
  wake_.Set();
  while (!answer_.has_value() && !stop_->Requested()) answered_.Wait(lock);
  asked_.reset();
  return answer_.value_or(IDOK);
}

bool BoxRelay::Asked() {
  const Lock lock(mutex_);
  return asked_.has_value() && !answer_.has_value();
}

void BoxRelay::Answer(platform::Desktop& desktop) {
  Box box;
  {
    const Lock lock(mutex_);
    if (!asked_.has_value() || answer_.has_value()) return;
    box = *asked_;
    // The run waits for the answer: nothing sets it again before.
    wake_.Reset();
  }
  const int answer = desktop.ShowMessageBox(box.text, box.caption, box.style);
  const Lock lock(mutex_);
  answer_ = answer;
  answered_.NotifyAll();
}

}  // namespace run
