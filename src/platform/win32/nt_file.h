#pragma once

#include <string>

#include "platform/win32/windows_include.h"

namespace platform {
namespace win32 {

// What replacing a file asks of ntdll, which kernel32 does not offer.
// Threads: any.

// Makes `name` by this process alone (no sharing), deleted on close where
// `doomed`, with the access TakeFrom needs where it is granted. The name is
// matched exactly, never folding case: under Wine, folding reads the whole
// folder for every new name, which Wine skips only for its Unix names (this
// and LinkInformation use those where they can). Fails with
// ERROR_FILE_EXISTS when it is taken.
HANDLE CreateExactly(const std::wstring& name, bool doomed);

// FILE_LINK_INFORMATION for `name` (the NT form of its full path), made
// beforehand so that nothing is allocated as the link is made.
std::string LinkInformation(const wchar_t* name, bool replace);

// Gives the open file the name in `link` as well (FileLinkInformation). A
// file system without links fails with ERROR_ACCESS_DENIED, as a folder
// refusing the rename does: the old file is then written in place.
bool LinkWith(HANDLE file, std::string& link);

}  // namespace win32
}  // namespace platform
