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

}  // namespace

bool ForEachEntry(const WideString& pattern,
                  const std::function<bool(const DirectoryEntry&)>& visit,
                  ErrorCode* broken) {
  *broken = 0;
  DirectoryScan scan;
  DirectoryEntry entry;
  return scan.First(pattern, &entry) && Walk(scan, entry, visit, broken);
}

bool ForEachEntryEndingWith(
    const WideString& ending, const WideString& other,
    const std::function<bool(const DirectoryEntry&)>& visit,
    ErrorCode* broken) {
  *broken = 0;
  DirectoryScan scan;
  DirectoryEntry entry;
  return scan.FirstEndingWith(ending, other, &entry) &&
         Walk(scan, entry, visit, broken);
}

}  // namespace platform
