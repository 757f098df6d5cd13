#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "common/mutex.h"
#include "pipeline/threads.h"

namespace pipeline {

// The worker threads of one pipeline: started, then let go at the run's
// stop, each joined where it ends and left to the kernel where it stays
// inside a call that may never return. Threads: Start and LetGo on the
// pass's thread only; a member marks its own end.
class Crew {
 public:
  Crew() = default;
  ~Crew() { LetGo(std::chrono::milliseconds(0)); }
  Crew(const Crew&) = delete;
  Crew& operator=(const Crew&) = delete;

  // Starts `body` on a thread of its own; false where none can be started.
  // `in_blocking_call` (owned with the body) tells when the member is in a
  // call that may never return.
  bool Start(const common::ThreadStarter& start, std::function<void()> body,
             std::shared_ptr<const std::atomic<bool>> in_blocking_call);
  std::size_t Size() const { return members_.size(); }
  // Waits for every member to end, and past `patience` no longer for one
  // inside a call that may never return: that one is left to the kernel.
  // The bodies must already have been told to stop, and a member that
  // enters such a call after that must call Blocked().
  void LetGo(std::chrono::milliseconds patience);
  // What a member calls once it enters a blocking call after the stop;
  // any thread, and it may outlive the crew.
  std::function<void()> Blocked() const;

 private:
  // Shared with the members, which may outlive the crew in a read.
  struct Ends {
    common::Mutex mutex;
    common::CondVar ended;  // a member has ended; notified under the mutex
    std::vector<bool> ended_ones GUARDED_BY(mutex);  // member i's, set by it
  };
  struct Member {
    std::thread thread;
    std::shared_ptr<const std::atomic<bool>> in_blocking_call;
  };

  std::shared_ptr<Ends> ends_ = std::make_shared<Ends>();
  std::vector<Member> members_;
};

}  // namespace pipeline
