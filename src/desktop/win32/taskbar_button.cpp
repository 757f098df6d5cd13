#include "desktop/win32/taskbar_button.h"

// After <windows.h>, which they build on.
#include <objbase.h>
#include <shobjidl.h>

namespace desktop {
namespace win32 {

ShellTaskbar::ShellTaskbar() {
  // S_FALSE too: this thread's COM was on already, and is counted once more.
  com_ = SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  void* list = nullptr;
  if (FAILED(::CoCreateInstance(CLSID_TaskbarList, nullptr,
                                CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                                &list))) {
    return;
  }
  list_ = static_cast<ITaskbarList3*>(list);
  if (FAILED(list_->HrInit())) {
    list_->Release();
    list_ = nullptr;
  }
}

ShellTaskbar::~ShellTaskbar() {
  if (list_ != nullptr) list_->Release();
  if (com_) ::CoUninitialize();
}

void ShellTaskbar::Show(HWND window, unsigned percent) {
  if (list_ != nullptr) list_->SetProgressValue(window, percent, 100);
}

void ShellTaskbar::Clear(HWND window) {
  if (list_ != nullptr) list_->SetProgressState(window, TBPF_NOPROGRESS);
}

}  // namespace win32
}  // namespace desktop
