#include "platform/for_each_entry.h"

namespace platform {

bool ForEachEntry(const WideString& pattern,
                  const std::function<bool(const DirectoryEntry&)>& visit,
                  ErrorCode* broken) {
  *broken = 0;
  DirectoryScan scan;
  DirectoryEntry entry;
  if (!scan.First(pattern, &entry)) return false;
  do {
    if (!visit(entry)) return false;
  } while (scan.Next(&entry));
  const ErrorCode error = GetLastErrorCode();
  if (error == kErrorNoMoreFiles) return true;
  *broken = error;
  return false;
}

}  // namespace platform
