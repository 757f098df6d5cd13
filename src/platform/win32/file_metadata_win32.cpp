#include <string>

#include "platform/temporary_file.h"
#include "platform/win32/final_path.h"
#include "platform/win32/windows_include.h"
// After <windows.h>, which it builds on.
#include <aclapi.h>

namespace platform {
namespace {

// What a user may set on a file and a write keeps: the write itself marks
// it for backup (archive). A read-only file gets here only where the user
// may write it anyway (Wine's root); it stays read-only.
constexpr DWORD kCarried = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                           FILE_ATTRIBUTE_SYSTEM |
                           FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

bool SecurityOf(HANDLE file, SECURITY_INFORMATION what, std::string* held) {
  DWORD size = 0;
  for (int tries = 0; tries < 3; ++tries) {
    held->resize(size);
    if (::GetKernelObjectSecurity(
            file, what, held->empty() ? nullptr : &(*held)[0], size, &size)) {
      held->resize(size);
      return true;
    }
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) return false;
  }
  return false;
}

}  // namespace

// A file there must open for writing with no sharing (read-only and busy
// files stop the run here, as they always have) under its own name, never
// another file's short name, and be a disk file; a link there is replaced,
// never written through. One that opens for writing but not for deleting
// cannot be replaced: it is written where it is (InPlaceFile checks it).
// What is replaced stays open in *old, with the access TakeFrom reads it
// with (one that does not grant that is written in place, as TakeFrom
// failing would have it).
bool CanReplace(const common::WideString& wide, OldFile* old, bool* in_place) {
  *in_place = false;
  old->Close();
  const wchar_t* name = win32::W(wide);
  const DWORD flags = FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS;
  HANDLE file = ::CreateFileW(
      name, GENERIC_WRITE | DELETE | READ_CONTROL | FILE_READ_ATTRIBUTES, 0,
      nullptr, OPEN_EXISTING, flags, nullptr);
  if (file == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_ACCESS_DENIED) {
    file = ::CreateFileW(name, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, flags,
                         nullptr);
    *in_place = file != INVALID_HANDLE_VALUE;
    if (!*in_place) ::SetLastError(ERROR_ACCESS_DENIED);
  }
  if (file == INVALID_HANDLE_VALUE || *in_place) {
    if (*in_place) ::CloseHandle(file);
    return *in_place || ::GetLastError() == ERROR_FILE_NOT_FOUND;
  }
  DWORD error = ERROR_SUCCESS;
  // Not GetFileInformationByHandle, which asks for the volume too: under
  // Wine a round trip per digest file.
  FILE_BASIC_INFO basic;
  // Its own name spelt exactly is the rule, told by one final path; the
  // folder is opened too only otherwise, to tell a link from an alias.
  std::wstring own;
  const win32::Entry entry =
      win32::FinalPath(file, &own) &&
              win32::LastComponent(own) == win32::LastComponent(name)
          ? win32::Entry::kOwn
          : win32::EntryOpened(file, name);
  if (entry == win32::Entry::kLink) {
    // A link the folder does not show as one: replaced too, taking what
    // the file it reaches has.
    old->handle_ = reinterpret_cast<std::intptr_t>(file);
    return true;
  }
  if (entry == win32::Entry::kAlias) {
    error = ERROR_FILE_EXISTS;
  } else if (!::GetFileInformationByHandleEx(file, FileBasicInfo, &basic,
                                             sizeof basic)) {
    error = ::GetLastError();
  } else if ((basic.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    error = ERROR_ACCESS_DENIED;  // what opening a folder for writing gives
  } else if (::GetFileType(file) != FILE_TYPE_DISK) {
    error = ERROR_NOT_SUPPORTED;
  }
  if (error != ERROR_SUCCESS) {
    ::CloseHandle(file);
    ::SetLastError(error);
    return false;
  }
  old->handle_ = reinterpret_cast<std::intptr_t>(file);
  return true;
}

void OldFile::Close() {
  if (handle_ == -1) return;
  const DWORD error = ::GetLastError();
  ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
  handle_ = -1;
  ::SetLastError(error);
}

// The attributes and the creation time in one call; the security
// descriptor only where it differs from the one the new file was given
// (under the same folder's inheritance, the same as a rule): the DACL, and
// the owner where this user may give it, nothing failing for the owner.
// The old file is the one CanReplace holds open: no second open, which
// under Wine reads the whole folder for a name that is not there.
bool TemporaryFile::TakeFrom(const common::WideString& /*name*/,
                             const OldFile& found) {
  if (found.handle_ == -1) return true;  // nothing there to take from
  const HANDLE old = reinterpret_cast<HANDLE>(found.handle_);
  const HANDLE file = reinterpret_cast<HANDLE>(handle_);
  constexpr SECURITY_INFORMATION kWhat =
      OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  FILE_BASIC_INFO basic;
  std::string had;
  std::string has;
  const bool read = ::GetFileInformationByHandleEx(old, FileBasicInfo, &basic,
                                                   sizeof basic) &&
                    SecurityOf(old, kWhat, &had);
  if (!read) return false;
  FILE_BASIC_INFO carried = {};
  carried.CreationTime = basic.CreationTime;
  carried.FileAttributes =
      (basic.FileAttributes & kCarried) | FILE_ATTRIBUTE_ARCHIVE;
  if (!::SetFileInformationByHandle(file, FileBasicInfo, &carried,
                                    sizeof carried) ||
      !SecurityOf(file, kWhat, &has)) {
    return false;
  }
  if (had == has) return true;
  // Wine's DACL is a view of the Unix mode that does not come back whole
  // (0600 returns as 0770): the old file is written in place instead.
  if (win32::IsWine()) {
    ::SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  // SetSecurityInfo, as the documentation asks for files: a DACL that
  // inherits keeps its own entries and takes the rest from the folder.
  PSID owner = nullptr;
  PSID given = nullptr;
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  if (!::GetSecurityDescriptorOwner(&had[0], &owner, &defaulted) ||
      !::GetSecurityDescriptorOwner(&has[0], &given, &defaulted) ||
      !::GetSecurityDescriptorDacl(&had[0], &present, &dacl, &defaulted) ||
      !::GetSecurityDescriptorControl(&had[0], &control, &revision)) {
    return false;
  }
  if (owner != nullptr && (given == nullptr || !::EqualSid(owner, given))) {
    ::SetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, owner,
                      nullptr, nullptr, nullptr);
  }
  if (!present) return true;
  const SECURITY_INFORMATION what =
      DACL_SECURITY_INFORMATION | ((control & SE_DACL_PROTECTED) != 0
                                       ? PROTECTED_DACL_SECURITY_INFORMATION
                                       : UNPROTECTED_DACL_SECURITY_INFORMATION);
  const DWORD error = ::SetSecurityInfo(file, SE_FILE_OBJECT, what, nullptr,
                                        nullptr, dacl, nullptr);
  ::SetLastError(error);
  return error == ERROR_SUCCESS;
}

}  // namespace platform
