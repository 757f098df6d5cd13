#include "platform/last_error.h"
#include "platform/temporary_file.h"

namespace platform {

// Not yet written: every name is replaced.
bool InPlaceFile::Open(const WideString&) {
  SetLastErrorCode(kErrorNotSupported);
  return false;
}

bool InPlaceFile::WriteWhole(const void*, std::uint32_t) {
  SetLastErrorCode(kErrorNotSupported);
  return false;
}

bool InPlaceFile::Flush() { return true; }

void InPlaceFile::Close() { handle_ = -1; }

}  // namespace platform
