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
bool FinalPath(HANDLE handle, std::wstring* path);
bool SameIgnoringCase(std::wstring_view a, std::wstring_view b);

}  // namespace win32
}  // namespace platform
