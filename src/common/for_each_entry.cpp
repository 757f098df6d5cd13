#include "common/for_each_entry.h"

bool ForEachEntry(
    const WideString& pattern,
    const std::function<bool(const platform::DirectoryEntry&)>& visit,
    platform::ErrorCode* broken) {
  *broken = 0;
  platform::DirectoryScan scan;
  platform::DirectoryEntry entry;
  if (!scan.First(pattern, &entry)) return false;
  do {
    if (!visit(entry)) return false;
  } while (scan.Next(&entry));
  const platform::ErrorCode error = platform::GetLastErrorCode();
  if (error == platform::kErrorNoMoreFiles) return true;
  *broken = error;
  return false;
}
