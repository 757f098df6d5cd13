#include "pipeline/threads.h"

#include <system_error>
#include <utility>

namespace pipeline {

bool StartThread(std::function<void()> body, std::thread* thread) {
  try {
    *thread = std::thread(std::move(body));
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

}  // namespace pipeline
