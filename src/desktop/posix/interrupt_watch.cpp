#include "desktop/posix/interrupt_watch.h"

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <system_error>
#include <thread>
#include <utility>

#include "desktop/posix/terminal_desktop.h"

namespace desktop {
namespace posix {
namespace {

// The pipe's end the handler writes to: a signal handler reaches nothing
// but a static, and one run is watched at a time.
volatile std::sig_atomic_t interrupt_pipe = -1;

constexpr char kInterrupt = 'i';
constexpr char kEnd = 'e';

extern "C" void OnRunInterrupt(int) {
  const int saved = errno;
  const char byte = kInterrupt;
  // Non-blocking: a full pipe has told the interrupt already.
  (void)!::write(interrupt_pipe, &byte, 1);
  errno = saved;
}

class InterruptWatch : public RunWatch {
 public:
  explicit InterruptWatch(std::function<void()> cancel)
      : cancel_(std::move(cancel)) {}
  ~InterruptWatch() override {
    if (installed_) ::sigaction(SIGINT, &previous_, nullptr);
    interrupt_pipe = -1;
    if (thread_.joinable()) {
      const char byte = kEnd;
      while (::write(ends_[1], &byte, 1) < 0 && errno == EINTR) {
      }
      thread_.join();
    }
    for (const int end : ends_) {
      if (end >= 0) ::close(end);
    }
  }
  InterruptWatch(const InterruptWatch&) = delete;
  InterruptWatch& operator=(const InterruptWatch&) = delete;

  bool Start() {
    if (::sigaction(SIGINT, nullptr, &previous_) != 0 ||
        previous_.sa_handler == SIG_IGN) {
      return false;
    }
    if (::pipe2(ends_, O_CLOEXEC) != 0) {
      ends_[0] = ends_[1] = -1;
      return false;
    }
    ::fcntl(ends_[1], F_SETFL, O_NONBLOCK);
    try {
      thread_ = std::thread([this] { Serve(); });
    } catch (const std::system_error&) {
      return false;
    }
    ::pthread_setname_np(thread_.native_handle(), "digestbox-ctrlc");
    interrupt_pipe = ends_[1];
    struct sigaction action = {};
    action.sa_handler = OnRunInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND | SA_RESTART;
    installed_ = ::sigaction(SIGINT, &action, nullptr) == 0;
    return installed_;
  }

 private:
  // Reads the pipe until the watch ends: the first interrupt cancels.
  void Serve() {
    bool cancelled = false;
    for (;;) {
      char byte = 0;
      const ssize_t got = ::read(ends_[0], &byte, 1);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0 || byte == kEnd) return;
      if (!cancelled) cancel_();
      cancelled = true;
    }
  }

  const std::function<void()> cancel_;
  int ends_[2] = {-1, -1};
  std::thread thread_;
  struct sigaction previous_ = {};
  bool installed_ = false;
};

}  // namespace

std::unique_ptr<RunWatch> WatchInterrupt(std::function<void()> cancel) {
  const int tty = OpenTerminal();
  if (tty < 0) return nullptr;
  ::close(tty);
  auto watch = std::make_unique<InterruptWatch>(std::move(cancel));
  if (!watch->Start()) return nullptr;
  return watch;
}

}  // namespace posix
}  // namespace desktop
