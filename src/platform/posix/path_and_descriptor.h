#pragma once

#include <unistd.h>

#include <cstdint>
#include <string>

#include "common/wide_string.h"
#include "platform/last_error.h"
#include "platform/posix/locale_codec.h"

// What the POSIX file backends share: a name's bytes on disk, and a close
// that leaves the error of the call that failed before it.
namespace platform::posix {

inline std::string PathOf(const WideString& name) {
  return EncodeLocale(name.View());
}

inline void CloseKeepingError(std::intptr_t* handle) {
  if (*handle < 0) return;
  const PreserveLastError keep;
  ::close(static_cast<int>(*handle));
  *handle = -1;
}

}  // namespace platform::posix
