// A DLL planted beside the program under a system DLL's name (shcore.dll):
// once loaded, it leaves "planted-loaded" beside itself.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID /*reserved*/) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  wchar_t path[MAX_PATH + 16] = {};
  DWORD length = ::GetModuleFileNameW(self, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return TRUE;
  while (length > 0 && path[length - 1] != L'\\') --length;
  ::lstrcpyW(path + length, L"planted-loaded");
  const HANDLE marker =
      ::CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (marker != INVALID_HANDLE_VALUE) ::CloseHandle(marker);
  return TRUE;
}
