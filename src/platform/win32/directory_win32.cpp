#include "common/unicode.h"
#include "platform/directory.h"
#include "platform/last_error.h"
#include "platform/win32/windows_include.h"

namespace platform {
namespace {

HANDLE HandleOf(std::intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);
}

// Whether an entry's own name ends with one of a scan's two endings (none
// given: every name the pattern found), and with which; the short name, which
// FindFirstFileW also matches, is not asked.
bool Wanted(const WIN32_FIND_DATAW& data, const common::WideString& ending,
            const common::WideString& other, DirectoryEntry* entry) {
  entry->other = false;
  if (other.IsAbsent()) return true;
  const std::u16string_view name(
      reinterpret_cast<const char16_t*>(data.cFileName));
  if (common::EndsWithFoldingAscii(name, ending.View())) return true;
  entry->other = true;
  return common::EndsWithFoldingAscii(name, other.View());
}

void Fill(const WIN32_FIND_DATAW& data, DirectoryEntry* entry) {
  entry->name =
      common::WideString(reinterpret_cast<const char16_t*>(data.cFileName));
  entry->kind = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0
                    ? EntryKind::kDirectory
                    : EntryKind::kFile;
  entry->link = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

}  // namespace

bool DirectoryScan::First(const common::WideString& pattern,
                          DirectoryEntry* entry) {
  Close();
  other_ = common::WideString::Absent();
  WIN32_FIND_DATAW data;
  const HANDLE find = ::FindFirstFileW(win32::W(pattern), &data);
  if (find == INVALID_HANDLE_VALUE) return false;
  handle_ = reinterpret_cast<std::intptr_t>(find);
  Fill(data, entry);
  return true;
}

// Every name is asked for and matched here, as no pattern holds two
// endings.
bool DirectoryScan::FirstEndingWith(const common::WideString& ending,
                                    const common::WideString& other,
                                    DirectoryEntry* entry) {
  Close();
  pattern_ = ending;
  other_ = other;
  WIN32_FIND_DATAW data;
  const HANDLE find = ::FindFirstFileW(L"*", &data);
  if (find == INVALID_HANDLE_VALUE) return false;
  handle_ = reinterpret_cast<std::intptr_t>(find);
  if (Wanted(data, pattern_, other_, entry)) {
    Fill(data, entry);
    return true;
  }
  if (Next(entry)) return true;
  const ErrorCode error = GetLastErrorCode();
  Close();
  SetLastErrorCode(error == kErrorNoMoreFiles ? ERROR_FILE_NOT_FOUND : error);
  return false;
}

bool DirectoryScan::Next(DirectoryEntry* entry) {
  WIN32_FIND_DATAW data;
  do {
    if (!::FindNextFileW(HandleOf(handle_), &data)) return false;
  } while (!Wanted(data, pattern_, other_, entry));
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
