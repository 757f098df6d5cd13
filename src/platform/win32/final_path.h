#pragma once

#include <string>
#include <string_view>

#include "platform/win32/windows_include.h"

namespace platform {
namespace win32 {

// What reading files and replacing them both ask of a name and of an open
// handle's final path.

std::wstring_view LastComponent(std::wstring_view path);
// The folder part of a name, with its separator; empty for a bare name.
std::wstring FolderOf(const wchar_t* name);
// GetFullPathNameW's full path of a name, however long.
bool FullPath(const wchar_t* name, std::wstring* full);
// The name as \\?\C:\folder\last or \\?\UNC\server\share\...\last: the
// folder part resolved as any path is, the last component appended exactly
// as written, since the Win32 rules strip trailing dots and spaces ("trail."
// would open "trail"). Empty where there is no such component (".", "..",
// a trailing separator) or the folder does not resolve.
std::wstring ExactPath(const wchar_t* name);
bool FinalPath(HANDLE handle, std::wstring* path);
bool SameIgnoringCase(std::wstring_view a, std::wstring_view b);
// Whether this is Wine: a Windows program on Linux folders.
bool IsWine();

enum class Entry {
  kOwn,    // the entry of that very name
  kAlias,  // another entry of the folder: a short name, another case
  kLink,   // a file in another folder: a link the folder does not show
};

// Which entry the open `file` is for `name` (kAlias where it cannot tell, so
// that nothing is written through an entry not known to be its own).
Entry EntryOpened(HANDLE file, const wchar_t* name);

}  // namespace win32
}  // namespace platform
