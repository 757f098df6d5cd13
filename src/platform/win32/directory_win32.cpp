#include "platform/directory.h"
#include "platform/last_error.h"
#include "platform/win32/windows_include.h"

namespace platform {
namespace {

HANDLE HandleOf(std::intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);
}

void Fill(const WIN32_FIND_DATAW& data, DirectoryEntry* entry) {
  entry->name = WideString(reinterpret_cast<const char16_t*>(data.cFileName));
  entry->kind = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0
                    ? EntryKind::kDirectory
                    : EntryKind::kFile;
  entry->link = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

}  // namespace

bool DirectoryScan::First(const WideString& pattern, DirectoryEntry* entry) {
  Close();
  WIN32_FIND_DATAW data;
  const HANDLE find = ::FindFirstFileW(win32::W(pattern), &data);
  if (find == INVALID_HANDLE_VALUE) return false;
  handle_ = reinterpret_cast<std::intptr_t>(find);
  Fill(data, entry);
  return true;
}

bool DirectoryScan::Next(DirectoryEntry* entry) {
  WIN32_FIND_DATAW data;
  if (!::FindNextFileW(HandleOf(handle_), &data)) return false;
  Fill(data, entry);
  return true;
}

void DirectoryScan::Close() {
  if (HandleOf(handle_) == INVALID_HANDLE_VALUE) return;
  const PreserveLastError keep;
  ::FindClose(HandleOf(handle_));
  handle_ = reinterpret_cast<std::intptr_t>(INVALID_HANDLE_VALUE);
}

}  // namespace platform
