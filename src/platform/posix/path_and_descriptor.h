#pragma once

#include <unistd.h>

#include <cstdint>
#include <string>

#include "common/wide_string.h"
#include "platform/last_error.h"
#include "platform/locale_codec.h"
#include "platform/temporary_file.h"

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

// Whether a file of `owner` at `path` may have been planted there for this
// process to write into: its folder is sticky and open to others' or its
// group's new files, and the file is neither this process's user's nor the
// folder owner's. Sets errno to EACCES then, the kernel's answer to O_CREAT
// there (protected_regular), whatever that setting is and for root too.
bool Planted(const std::string& path, std::uint32_t owner);

// Fills *facts, where not yet done, with what the new file `fd` got by
// itself: its owner, group, mode and ACL, and who this process is.
void LearnNewFile(int fd, TemporaryFacts* facts);

}  // namespace platform::posix
