#include <cstring>
#include <string>
#include <vector>

#include "platform/last_error.h"
#include "platform/temporary_file.h"
#include "platform/win32/final_path.h"
#include "platform/win32/nt_file.h"
#include "platform/win32/windows_include.h"
// After <windows.h>: RtlGenRandom (SystemFunction036).
#include <ntsecapi.h>

namespace platform {
namespace {

using win32::CreateExactly;
using win32::FolderOf;
using win32::LinkInformation;
using win32::LinkWith;

HANDLE HandleOf(std::intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);
}

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

// What facts.on_close holds here, once the first file has asked.
constexpr int kClears = 1;    // FileDispositionInfoEx clears the mark
constexpr int kLinks = -2;    // a marked file links to a new name
constexpr int kNeither = -3;  // marked only after it is made

std::wstring OwnName(std::uint64_t n) {
  const std::string ascii = TemporaryName(::GetCurrentProcessId(), n);
  return std::wstring(ascii.begin(), ascii.end());
}

void CloseKeepingError(std::intptr_t* handle) {
  if (HandleOf(*handle) == INVALID_HANDLE_VALUE) return;
  const PreserveLastError keep;
  ::CloseHandle(HandleOf(*handle));
  *handle = reinterpret_cast<std::intptr_t>(INVALID_HANDLE_VALUE);
}

}  // namespace

bool TemporaryFile::CreateUnnamed(const common::WideString& /*beside*/,
                                  TemporaryFacts& /*facts*/) {
  Remove();
  ::SetLastError(ERROR_NOT_SUPPORTED);
  return false;
}

// Deleted on close from the moment it is made, so that a killed process
// leaves nothing behind, wherever that mark can later be cleared (Windows
// 10; the first file of a run asks) or the file be put in place by a link
// while it still holds it (Wine). Elsewhere it is marked at once after.
// Made with the folder's defaults, as a file made under the name is; what
// the replaced file had is TakeFrom's.
bool TemporaryFile::CreateNamed(const common::WideString& beside,
                                std::uint64_t n, TemporaryFacts& facts) {
  Remove();
  target_.clear();
  const std::wstring name = FolderOf(win32::W(beside)) + OwnName(n);
  HANDLE file = CreateExactly(name, facts.on_close != kNeither);
  if (file != INVALID_HANDLE_VALUE && facts.on_close == 0) {
    facts.on_close = SetDeleteOnClose(file, true, true) ? kClears
                     : win32::IsWine()                  ? kLinks
                                                        : kNeither;
    if (facts.on_close == kNeither) {
      ::CloseHandle(file);  // and with it the file
      file = CreateExactly(name, false);
    }
  }
  if (file == INVALID_HANDLE_VALUE) return false;
  handle_ = reinterpret_cast<std::intptr_t>(file);
  if (facts.on_close == kNeither && !SetDeleteOnClose(file, true, false)) {
    const PreserveLastError keep;
    Close();
    ::DeleteFileW(name.c_str());  // just made by this process
    return false;
  }
  // Encoded now: nothing is allocated between Keep and the link.
  if (facts.on_close == kLinks)
    target_ = LinkInformation(win32::W(beside), true);
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

// Where the mark can be cleared, the file is kept and the rename follows
// at once; where it is put in place by a link, it stays marked, and the
// link removes nothing if a kill comes first.
bool TemporaryFile::Keep(std::uint64_t /*n*/, TemporaryFacts& facts) {
  if (facts.on_close == kLinks) return true;
  if (!SetDeleteOnClose(HandleOf(handle_), false, facts.on_close == kClears)) {
    return false;
  }
  lingers_ = true;
  return true;
}

// The link leaves the temporary name to the mark: closing removes it.
bool TemporaryFile::RenameOver(const common::WideString& wide) {
  if (!lingers_) {
    return LinkWith(HandleOf(handle_), target_);
  }
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
// machine's, which this one cannot tell. What it holds must be what a
// temporary file can, or it is a user's file like any other.
bool RemoveStray(const common::WideString& name) {
  const PreserveLastError keep;
  if (::GetDriveTypeW(nullptr) == DRIVE_REMOTE) return true;
  const HANDLE file = ::CreateFileW(
      win32::W(name), DELETE | FILE_READ_DATA | FILE_READ_ATTRIBUTES, 0,
      nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return true;
  BY_HANDLE_FILE_INFORMATION info;
  bool ours = false;
  if (::GetFileInformationByHandle(file, &info) &&
      (info.dwFileAttributes &
       (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0 &&
      ::GetFileType(file) == FILE_TYPE_DISK) {
    char data[kMostTemporaryData + 1];
    DWORD got = 0;
    ours = ::ReadFile(file, data, sizeof data, &got, nullptr) != FALSE &&
           CouldBeTemporaryData(std::string_view(data, got));
    if (ours) SetDeleteOnClose(file, true, false);
  }
  ::CloseHandle(file);
  return ours;
}

// advapi32's RtlGenRandom (SystemFunction036), imported already for the
// digests, and on every Windows since XP.
bool RandomNumber(std::uint64_t* n) {
  if (::SystemFunction036(n, sizeof *n) != FALSE) return true;
  ::SetLastError(ERROR_GEN_FAILURE);
  return false;
}

// Handles are limited only by memory.
std::size_t TemporaryFilesAtOnce() { return 4096; }

// Each file's data was flushed before its rename; the folder's entries
// follow where the folder opens for writing, and a file system that cannot
// flush a folder leaves them to its own log.
bool FlushFolderOf(const common::WideString& beside) {
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
