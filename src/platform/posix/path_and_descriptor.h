#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "common/wide_string.h"
#include "platform/last_error.h"
#include "platform/locale_codec.h"
#include "platform/temporary_file.h"

// What the POSIX file backends share: a name's bytes on disk, its folder,
// whether a descriptor is still the file a name gives, and a close that
// leaves the error of the call that failed before it.
namespace platform::posix {

inline std::string PathOf(const common::WideString& name) {
  return EncodeLocale(name.View());
}

// FUSE's file system number, which the kernel's uapi headers leave out.
constexpr unsigned long kFuseMagic = 0x65735546;

// The folder of a path, for the temporary file beside it.
inline std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Whether the descriptor is still the file at `path`.
inline bool Names(int fd, const std::string& path) {
  struct stat mine;
  struct stat there;
  return ::fstat(fd, &mine) == 0 && ::lstat(path.c_str(), &there) == 0 &&
         mine.st_dev == there.st_dev && mine.st_ino == there.st_ino;
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
