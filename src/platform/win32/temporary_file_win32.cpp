#include <cstring>
#include <string>
#include <vector>

#include "platform/last_error.h"
#include "platform/temporary_file.h"
#include "platform/win32/final_path.h"
#include "platform/win32/windows_include.h"

namespace platform {
namespace {

using win32::FinalPath;
using win32::FolderOf;
using win32::LastComponent;
using win32::SameIgnoringCase;

HANDLE HandleOf(std::intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);
}

bool IsWine() {
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr &&
         ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// FileCaseSensitiveInfo (Windows 10 1803), which older headers lack.
constexpr int kFileCaseSensitiveInfo = 23;
constexpr ULONG kCaseSensitiveDir = 0x1;

// Whether the folder tells names apart by case: one marked so on Windows;
// every folder under Wine, whose folders are Linux folders.
bool CaseSensitive(HANDLE folder) {
  if (IsWine()) return true;
  ULONG flags = 0;
  return ::GetFileInformationByHandleEx(
             folder,
             static_cast<FILE_INFO_BY_HANDLE_CLASS>(kFileCaseSensitiveInfo),
             &flags, sizeof flags) &&
         (flags & kCaseSensitiveDir) != 0;
}

enum class Entry {
  kOwn,    // the entry of that very name
  kAlias,  // another entry of the folder: a short name, another case
  kLink,   // a file in another folder: a link the folder does not show
};

// Which entry the open file is for `name`: its final path's folder against
// the final path of the folder `name` is in, and its last component against
// the name, exactly where the folder keeps case, else ignoring case (so a
// digest file of "photo.jpg" is still that of "Photo.jpg").
Entry EntryOpened(HANDLE file, const wchar_t* name) {
  std::wstring folder_name = FolderOf(name);
  if (folder_name.empty()) folder_name = L".";
  const HANDLE folder = ::CreateFileW(
      folder_name.c_str(), FILE_READ_ATTRIBUTES,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  std::wstring own;
  std::wstring folder_path;
  const bool known = folder != INVALID_HANDLE_VALUE && FinalPath(file, &own) &&
                     FinalPath(folder, &folder_path);
  const bool exact = known && CaseSensitive(folder);
  if (folder != INVALID_HANDLE_VALUE) ::CloseHandle(folder);
  if (!known) return Entry::kAlias;  // cannot tell: never write through
  const std::size_t own_slash = own.find_last_of(L'\\');
  const std::wstring_view own_folder = std::wstring_view(own).substr(
      0, own_slash == std::wstring::npos ? 0 : own_slash);
  std::wstring_view expected_folder(folder_path);
  while (!expected_folder.empty() && expected_folder.back() == L'\\') {
    expected_folder.remove_suffix(1);
  }
  if (own_folder != expected_folder) return Entry::kLink;
  const std::wstring_view own_name = LastComponent(own);
  const std::wstring_view asked_name = LastComponent(name);
  const bool same =
      exact ? own_name == asked_name : SameIgnoringCase(own_name, asked_name);
  return same ? Entry::kOwn : Entry::kAlias;
}

// Whether the name can take a digest file as it stands: a file there must
// open for writing with no sharing (read-only and busy files stop the run
// here, as they always have) under its own name, never another file's short
// name, and be a disk file; a link there is replaced, never written through.
}  // namespace

bool CanReplace(const WideString& wide, bool* in_place) {
  *in_place = false;
  const wchar_t* name = win32::W(wide);
  const HANDLE file = ::CreateFileW(
      name, GENERIC_WRITE | DELETE, 0, nullptr, OPEN_EXISTING,
      FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return ::GetLastError() == ERROR_FILE_NOT_FOUND;
  }
  DWORD error = ERROR_SUCCESS;
  BY_HANDLE_FILE_INFORMATION info;
  const Entry entry = EntryOpened(file, name);
  if (entry == Entry::kLink) {
    ::CloseHandle(file);
    return true;  // a link the folder does not show as one: replaced too
  }
  if (entry == Entry::kAlias) {
    error = ERROR_FILE_EXISTS;
  } else if (!::GetFileInformationByHandle(file, &info)) {
    error = ::GetLastError();
  } else if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    error = ERROR_ACCESS_DENIED;  // what opening a folder for writing gives
  } else if (::GetFileType(file) != FILE_TYPE_DISK) {
    error = ERROR_NOT_SUPPORTED;
  }
  ::CloseHandle(file);
  ::SetLastError(error);
  return error == ERROR_SUCCESS;
}

namespace {

// FileDispositionInfoEx (Windows 10 1709), which the headers give only to
// programs for Windows 10.
constexpr int kFileDispositionInfoEx = 21;
constexpr DWORD kDispositionDelete = 0x1;
constexpr DWORD kDispositionOnClose = 0x8;

// Deletes the file when its last handle closes (`doomed`), or not. The
// mark "on close" is the one FILE_FLAG_DELETE_ON_CLOSE sets, which only
// FileDispositionInfoEx clears; elsewhere the file is "delete pending".
bool SetDeleteOnClose(HANDLE file, bool doomed, bool on_close) {
  if (on_close) {
    const DWORD flags = kDispositionOnClose | (doomed ? kDispositionDelete : 0);
    return ::SetFileInformationByHandle(
               file,
               static_cast<FILE_INFO_BY_HANDLE_CLASS>(kFileDispositionInfoEx),
               const_cast<DWORD*>(&flags), sizeof flags) != FALSE;
  }
  FILE_DISPOSITION_INFO dispose = {};
  dispose.DeleteFile = doomed ? TRUE : FALSE;
  return ::SetFileInformationByHandle(file, FileDispositionInfo, &dispose,
                                      sizeof dispose) != FALSE;
}

void CloseKeepingError(std::intptr_t* handle) {
  if (HandleOf(*handle) == INVALID_HANDLE_VALUE) return;
  const PreserveLastError keep;
  ::CloseHandle(HandleOf(*handle));
  *handle = reinterpret_cast<std::intptr_t>(INVALID_HANDLE_VALUE);
}

}  // namespace

bool TemporaryFile::CreateUnnamed(const WideString& /*beside*/,
                                  TemporaryFacts& /*facts*/) {
  Remove();
  ::SetLastError(ERROR_NOT_SUPPORTED);
  return false;
}

// Hidden and deleted on close until it is complete, so that a killed
// process leaves nothing behind: marked so as it is made, once the system
// is known to clear that mark (the first file asks), else at once after.
bool TemporaryFile::CreateNamed(const WideString& beside, std::uint32_t n,
                                TemporaryFacts& facts) {
  Remove();
  const std::string ascii = TemporaryName(::GetCurrentProcessId(), n);
  const std::wstring name =
      FolderOf(win32::W(beside)) + std::wstring(ascii.begin(), ascii.end());
  const DWORD doomed = facts.on_close > 0 ? FILE_FLAG_DELETE_ON_CLOSE : 0;
  const HANDLE file = ::CreateFileW(
      name.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
      FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_SEQUENTIAL_SCAN | doomed, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  if (doomed == 0) {
    bool marked = false;
    if (facts.on_close == 0) {
      marked = SetDeleteOnClose(file, true, true);
      facts.on_close = marked ? 1 : -1;
    }
    if (!marked && !SetDeleteOnClose(file, true, false)) {
      const PreserveLastError keep;
      ::CloseHandle(file);
      ::DeleteFileW(name.c_str());  // just made by this process
      return false;
    }
  }
  handle_ = reinterpret_cast<std::intptr_t>(file);
  return true;
}

bool TemporaryFile::Write(const void* data, std::uint32_t size,
                          std::uint32_t* written) {
  DWORD put = 0;
  const BOOL ok = ::WriteFile(HandleOf(handle_), data, size, &put, nullptr);
  *written = put;
  return ok != FALSE;
}

bool TemporaryFile::Flush() {
  return ::FlushFileBuffers(HandleOf(handle_)) != FALSE;
}

// A volume is flushed only by an administrator.
bool TemporaryFile::FlushFileSystem() {
  ::SetLastError(ERROR_NOT_SUPPORTED);
  return false;
}

// Shown with the folder's default attributes, as a file made under the
// name is, while it is still deleted on close: then kept, and the rename
// follows at once.
bool TemporaryFile::Keep(std::uint32_t /*n*/, TemporaryFacts& facts) {
  const HANDLE file = HandleOf(handle_);
  FILE_BASIC_INFO basic = {};
  basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  if (!::SetFileInformationByHandle(file, FileBasicInfo, &basic,
                                    sizeof basic) ||
      !SetDeleteOnClose(file, false, facts.on_close > 0)) {
    return false;
  }
  lingers_ = true;
  return true;
}

bool TemporaryFile::RenameOver(const WideString& wide) {
  const wchar_t* name = win32::W(wide);
  const std::size_t length = std::wcslen(name);
  std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) +
                                    length * sizeof(wchar_t));
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  rename->ReplaceIfExists = TRUE;
  rename->RootDirectory = nullptr;
  rename->FileNameLength = static_cast<DWORD>(length * sizeof(wchar_t));
  std::memcpy(rename->FileName, name, length * sizeof(wchar_t));
  if (!::SetFileInformationByHandle(HandleOf(handle_), FileRenameInfo, rename,
                                    static_cast<DWORD>(buffer.size()))) {
    return false;
  }
  lingers_ = false;
  return true;
}

void TemporaryFile::Close() {
  CloseKeepingError(&handle_);
  lingers_ = false;
}

// A kept file is marked again ("delete pending" takes on every system); an
// unkept one still is.
void TemporaryFile::Remove() {
  if (HandleOf(handle_) != INVALID_HANDLE_VALUE && lingers_) {
    const PreserveLastError keep;
    SetDeleteOnClose(HandleOf(handle_), true, false);
  }
  Close();
}

// A live run holds each of its temporary files open without sharing, so
// only a dead run's opens here; on a network drive it may be another
// machine's, which this one cannot tell.
void RemoveStray(const WideString& name) {
  const PreserveLastError keep;
  if (::GetDriveTypeW(nullptr) == DRIVE_REMOTE) return;
  const HANDLE file =
      ::CreateFileW(win32::W(name), DELETE | FILE_READ_ATTRIBUTES, 0, nullptr,
                    OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  BY_HANDLE_FILE_INFORMATION info;
  if (::GetFileInformationByHandle(file, &info) &&
      (info.dwFileAttributes &
       (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0 &&
      ::GetFileType(file) == FILE_TYPE_DISK) {
    SetDeleteOnClose(file, true, false);
  }
  ::CloseHandle(file);
}

// Handles are limited only by memory.
std::size_t TemporaryFilesAtOnce() { return 4096; }

// Each file's data was flushed before its rename; the folder's entries
// follow where the folder opens for writing, and a file system that cannot
// flush a folder leaves them to its own log.
bool FlushFolderOf(const WideString& beside) {
  std::wstring folder = FolderOf(win32::W(beside));
  if (folder.empty()) folder = L".";
  const HANDLE handle = ::CreateFileW(
      folder.c_str(), GENERIC_WRITE,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle != INVALID_HANDLE_VALUE) {
    ::FlushFileBuffers(handle);
    ::CloseHandle(handle);
  }
  return true;
}

}  // namespace platform
