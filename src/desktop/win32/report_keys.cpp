#include "desktop/win32/report_keys.h"

#include <cstring>
#include <string>

namespace desktop {
namespace win32 {
namespace {

LRESULT CALLBACK WithCtrlKeys(HWND control, UINT message, WPARAM wparam,
                              LPARAM lparam) {
  const auto original =
      reinterpret_cast<WNDPROC>(::GetWindowLongPtrW(control, GWLP_USERDATA));
  const bool text = ::GetDlgCtrlID(control) != IDOK;
  const WPARAM key = text ? 'A' : 'C';
  if (message == WM_KEYDOWN && wparam == key && ::GetKeyState(VK_CONTROL) < 0) {
    if (text) {
      ::SendMessageW(control, EM_SETSEL, 0, -1);
    } else {
      ::SendMessageW(::GetParent(control), WM_COPY, 0, 0);
    }
    return 0;
  }
  if (message == WM_CHAR && wparam == key - 'A' + 1)
    return 0;  // its Ctrl+ character
  return ::CallWindowProcW(original, control, message, wparam, lparam);
}

}  // namespace

void GiveCtrlKeys(HWND control) {
  ::SetWindowLongPtrW(
      control, GWLP_USERDATA,
      ::SetWindowLongPtrW(control, GWLP_WNDPROC,
                          reinterpret_cast<LONG_PTR>(WithCtrlKeys)));
}

void CopyBoxText(HWND box, std::wstring_view caption, std::wstring_view text) {
  const std::wstring rule = L"---------------------------\r\n";
  std::wstring block = rule;
  block.append(caption).append(L"\r\n").append(rule);
  block.append(text).append(L"\r\n").append(rule);
  block.append(L"OK   \r\n").append(rule);
  const std::size_t bytes = (block.size() + 1) * sizeof(wchar_t);
  HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, bytes);
  if (memory == nullptr) return;
  void* place = ::GlobalLock(memory);
  if (place != nullptr) std::memcpy(place, block.c_str(), bytes);
  ::GlobalUnlock(memory);
  if (place == nullptr || !::OpenClipboard(box)) {
    ::GlobalFree(memory);
    return;
  }
  ::EmptyClipboard();
  if (::SetClipboardData(CF_UNICODETEXT, memory) == nullptr) {
    ::GlobalFree(memory);
  }
  ::CloseClipboard();
}

}  // namespace win32
}  // namespace desktop
