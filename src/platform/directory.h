#pragma once

#include <cstdint>

#include "common/wide_string.h"

namespace platform {

// Threads: a scan belongs to one thread at a time; scans on several threads
// may run at once.

enum class EntryKind {
  kFile,
  kDirectory,
  kOther,  // a device, pipe or socket: nothing to hash
};

struct DirectoryEntry {
  common::WideString name;  // no directory part
  EntryKind kind = EntryKind::kFile;
  bool link = false;   // a symbolic link or other reparse point
  bool other = false;  // matched the scan's second ending, not its first
};

// Enumerates the current directory's entries whose names match a pattern
// ("*.*" matches every name, with or without a dot), without regard to letter
// case, in the platform's order. First fails when nothing matches; Next fails
// with kErrorNoMoreFiles at the end, and with another code on a real error.
class DirectoryScan {
 public:
  DirectoryScan() = default;
  ~DirectoryScan() { Close(); }
  DirectoryScan(const DirectoryScan&) = delete;
  DirectoryScan& operator=(const DirectoryScan&) = delete;

  bool First(const common::WideString& pattern, DirectoryEntry* entry);
  // The entries whose own names end with `ending` or with `other` (ASCII,
  // without regard to letter case): two kinds of name in one walk of a
  // large folder. Fails as First does.
  bool FirstEndingWith(const common::WideString& ending,
                       const common::WideString& other, DirectoryEntry* entry);
  bool Next(DirectoryEntry* entry);
  void Close();
  // Whether every entry the scan has passed, matching or not, was an
  // ordinary file or a folder: no link, device, pipe or socket, and none of
  // a type the listing did not tell. False where the backend cannot tell.
  bool OnlyFilesAndFolders() const { return only_files_; }

 private:
  std::intptr_t handle_ = -1;
  common::WideString pattern_;  // kept by backends that match names themselves
  common::WideString other_;    // the second ending, where there is one
  bool only_files_ = false;     // kept by backends that can tell
};

}  // namespace platform
