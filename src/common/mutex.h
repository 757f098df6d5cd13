#pragma once

// A mutex, its scoped lock and a condition variable that Clang's
// thread-safety analysis follows (-Wthread-safety): a field says which
// mutex guards it, a function which mutex it needs held, and the compiler
// checks every access. libstdc++'s std::mutex carries no such attributes.
// Elsewhere the attributes are nothing and the classes are the standard
// ones inline, so a build without the analysis costs nothing more.
// A condition's predicate is written as a loop around Wait, not as a
// lambda: the analysis cannot tell that a lambda runs under the lock.
// Threads: as std::mutex and std::condition_variable.

#include <chrono>
#include <condition_variable>
#include <mutex>

#if defined(__clang__)
#define THREAD_ANNOTATION(x) __attribute__((x))
#else
#define THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(x) THREAD_ANNOTATION(capability(x))
#define SCOPED_CAPABILITY THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(x) THREAD_ANNOTATION(guarded_by(x))
#define PT_GUARDED_BY(x) THREAD_ANNOTATION(pt_guarded_by(x))
#define REQUIRES(...) THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define ACQUIRE(...) THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define EXCLUDES(...) THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define ASSERT_CAPABILITY(x) THREAD_ANNOTATION(assert_capability(x))

namespace common {

class CondVar;
class Lock;

class CAPABILITY("mutex") Mutex {
 public:
  Mutex() = default;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;
  // Tells the analysis that this mutex is held where it cannot see that:
  // reached through another object that shares it. Checks nothing.
  void AssertHeld() const ASSERT_CAPABILITY(this) {}

 private:
  friend class Lock;
  std::mutex mutex_;
};

// Holds `mutex` from construction to destruction, or to Unlock; Relock
// takes it again.
class SCOPED_CAPABILITY Lock {
 public:
  explicit Lock(Mutex& mutex) ACQUIRE(mutex) : lock_(mutex.mutex_) {}
  ~Lock() RELEASE() {}
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

  void Unlock() RELEASE() { lock_.unlock(); }
  void Relock() ACQUIRE() { lock_.lock(); }

 private:
  friend class CondVar;
  std::unique_lock<std::mutex> lock_;
};

class CondVar {
 public:
  void NotifyOne() { changed_.notify_one(); }
  void NotifyAll() { changed_.notify_all(); }
  // Waits for a notification (or a spurious wake-up) with `lock` held.
  void Wait(Lock& lock) { changed_.wait(lock.lock_); }
  // The same until `deadline`; false once it has passed.
  template <typename Clock, typename Duration>
  bool WaitUntil(Lock& lock,
                 const std::chrono::time_point<Clock, Duration>& deadline) {
    return changed_.wait_until(lock.lock_, deadline) ==
           std::cv_status::no_timeout;
  }

 private:
  std::condition_variable changed_;
};

}  // namespace common
