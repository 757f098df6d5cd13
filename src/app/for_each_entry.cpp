#include "app/for_each_entry.h"

#include "app/show_system_error.h"
#include "platform/last_error.h"

bool ForEachEntry(
    platform::Desktop& desktop, const WideString& pattern,
    const std::function<bool(const platform::DirectoryEntry&)>& visit) {
  platform::DirectoryScan scan;
  platform::DirectoryEntry entry;
  if (!scan.First(pattern, &entry)) return false;
  do {
    if (!visit(entry)) return false;
  } while (scan.Next(&entry));
  const platform::ErrorCode error = platform::GetLastErrorCode();
  if (error == platform::kErrorNoMoreFiles) return true;
  ShowSystemError(desktop, error);
  return false;
}
