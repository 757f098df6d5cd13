#include "platform/for_each_entry.h"

namespace platform {

namespace {

// The walk from a scan whose first entry is in hand.
bool Walk(DirectoryScan& scan, DirectoryEntry& entry,
          const std::function<bool(const DirectoryEntry&)>& visit,
          ErrorCode* broken) {
  do {
    if (!visit(entry)) return false;
  } while (scan.Next(&entry));
  const ErrorCode error = GetLastErrorCode();
  if (error == kErrorNoMoreFiles) return true;
  *broken = error;
  return false;
}

// A folder that could not be opened for want of a descriptor is not an
// empty one: that is told, as a broken walk is.
void Unopened(ErrorCode* broken) {
  const ErrorCode error = GetLastErrorCode();
  if (IsOutOfHandles(error)) *broken = error;
}

}  // namespace

bool ForEachEntry(const common::WideString& pattern,
                  const std::function<bool(const DirectoryEntry&)>& visit,
                  ErrorCode* broken) {
  *broken = 0;
  DirectoryScan scan;
  DirectoryEntry entry;
  if (scan.First(pattern, &entry)) return Walk(scan, entry, visit, broken);
  Unopened(broken);
  return false;
}

bool ForEachEntryEndingWith(
    const common::WideString& ending, const common::WideString& other,
    const std::function<bool(const DirectoryEntry&)>& visit, ErrorCode* broken,
    bool* only_files) {
  *broken = 0;
  if (only_files != nullptr) *only_files = false;
  DirectoryScan scan;
  DirectoryEntry entry;
  if (scan.FirstEndingWith(ending, other, &entry)) {
    const bool ended = Walk(scan, entry, visit, broken);
    if (only_files != nullptr) {
      *only_files = ended && scan.OnlyFilesAndFolders();
    }
    return ended;
  }
  Unopened(broken);
  return false;
}

}  // namespace platform
