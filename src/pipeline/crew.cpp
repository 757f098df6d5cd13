#include "pipeline/crew.h"

#include <utility>

namespace pipeline {

bool Crew::Start(const common::ThreadStarter& start, std::function<void()> body,
                 std::shared_ptr<const std::atomic<bool>> in_blocking_call) {
  std::size_t index = 0;
  {
    const common::Lock lock(ends_->mutex);
    index = ends_->ended_ones.size();
    ends_->ended_ones.push_back(false);
  }
  std::shared_ptr<Ends> ends = ends_;
  Member member{std::thread(), std::move(in_blocking_call)};
  // Room first: a thread started is never lost to memory that runs out.
  members_.reserve(members_.size() + 1);
  std::function<void()> run = [ends, index, body = std::move(body)] {
    body();
    const common::Lock lock(ends->mutex);
    ends->ended_ones[index] = true;
    ends->ended.NotifyAll();
  };
  if (!start(std::move(run), &member.thread)) {
    const common::Lock lock(ends_->mutex);
    ends_->ended_ones.pop_back();
    return false;
  }
  members_.push_back(std::move(member));
  return true;
}

void Crew::LetGo(std::chrono::milliseconds patience) {
  if (members_.empty()) return;
  const auto until = std::chrono::steady_clock::now() + patience;
  common::Lock lock(ends_->mutex);
  for (std::size_t i = 0; i < members_.size(); ++i) {
    Member& member = members_[i];
    // A read in hand ends in a moment where the disk answers: only one that
    // outlasts the patience (a wait for that stated deadline) is left to the
    // kernel. Past it, a member that enters a blocking call says so.
    while (!ends_->ended_ones[i]) {
      if (!ends_->ended.WaitUntil(lock, until)) break;
    }
    while (!ends_->ended_ones[i] && !member.in_blocking_call->load()) {
      ends_->ended.Wait(lock);
    }
    if (ends_->ended_ones[i]) {
      lock.Unlock();
      member.thread.join();
      lock.Relock();
    } else {
      member.thread.detach();
    }
  }
  members_.clear();
}

std::function<void()> Crew::Blocked() const {
  return [ends = ends_] {
    const common::Lock lock(ends->mutex);
    ends->ended.NotifyAll();
  };
}

}  // namespace pipeline
