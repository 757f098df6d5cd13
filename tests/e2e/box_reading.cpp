#include "box_reading.h"

// After <windows.h>, which it builds on.
#include <commctrl.h>
#include <oleacc.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(),
                                       static_cast<int>(text.size()), nullptr,
                                       0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                      &out[0], size, nullptr, nullptr);
  return out;
}

void Key(WORD key, bool down) {
  INPUT input = {};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = key;
  input.ki.dwFlags = down ? 0 : KEYEVENTF_KEYUP;
  SendInput(1, &input, sizeof input);
}

// CR and LF written as \r and \n so that a box is one line of transcript.
std::string Escaped(const std::wstring& text) {
  std::string out;
  for (char c : Utf8(text)) {
    if (c == '\r')
      out += "\\r";
    else if (c == '\n')
      out += "\\n";
    else if (c == '\\')
      out += "\\\\";
    else
      out.push_back(c);
  }
  return out;
}

BOOL CALLBACK FindBox(HWND window, LPARAM param) {
  Finder* finder = reinterpret_cast<Finder*>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != finder->process || !IsWindowVisible(window)) return TRUE;
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  if (std::wstring(name) != L"#32770") return TRUE;
  if (finder->seen->count(window) != 0) return TRUE;
  finder->found = window;
  return FALSE;
}

std::wstring WindowText(HWND window) {
  const int length = GetWindowTextLengthW(window);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  GetWindowTextW(window, &text[0], length + 1);
  text.resize(static_cast<std::size_t>(length));
  return text;
}

BOOL CALLBACK ReadChild(HWND child, LPARAM param) {
  Children* children = reinterpret_cast<Children*>(param);
  wchar_t name[64] = {};
  GetClassNameW(child, name, 64);
  if (std::wstring(name) == L"Edit") children->edit = child;
  if (std::wstring(name) == PROGRESS_CLASSW) children->bar = child;
  if (std::wstring(name) != L"Static") return TRUE;
  const std::wstring text = WindowText(child);
  if (!text.empty()) {
    if (!children->texts.empty()) children->texts += L" | ";
    children->texts += text;
  }
  if (GetWindowLongW(child, GWL_STYLE) & SS_ICON) {
    children->icon = child;
  } else if (children->text.empty()) {
    children->text = WindowText(child);
  }
  return TRUE;
}

// The icon shown, told by drawing each standard icon beside the one on
// screen and keeping the closest.
std::string IconOf(HWND icon) {
  if (icon == nullptr || !IsWindowVisible(icon)) return "none";
  const int size = GetSystemMetrics(SM_CXICON);
  // Read from the screen: another process's window DC gives no pixels.
  RECT place;
  GetWindowRect(icon, &place);
  HDC screen = CreateCompatibleDC(nullptr);
  HDC desktop = GetDC(nullptr);
  HBITMAP shot = CreateCompatibleBitmap(desktop, size, size);
  HGDIOBJ old_shot = SelectObject(screen, shot);
  BitBlt(screen, 0, 0, size, size, desktop, place.left, place.top, SRCCOPY);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(desktop, size, size);
  HGDIOBJ old = SelectObject(memory, bitmap);
  const COLORREF background = GetPixel(screen, 0, 0);
  struct Candidate {
    const char* name;
    LPCWSTR id;
  };
  const Candidate candidates[] = {{"error", IDI_HAND},
                                  {"question", IDI_QUESTION},
                                  {"warning", IDI_EXCLAMATION},
                                  {"information", IDI_ASTERISK}};
  std::string best = "unknown";
  long best_diff = -1;
  for (const Candidate& candidate : candidates) {
    HBRUSH brush = CreateSolidBrush(background);
    RECT all = {0, 0, size, size};
    FillRect(memory, &all, brush);
    DeleteObject(brush);
    DrawIconEx(memory, 0, 0, LoadIconW(nullptr, candidate.id), size, size, 0,
               nullptr, DI_NORMAL);
    long diff = 0;
    for (int y = 0; y < size; y += 2) {
      for (int x = 0; x < size; x += 2) {
        if (GetPixel(memory, x, y) != GetPixel(screen, x, y)) ++diff;
      }
    }
    if (std::getenv("BOX_DRIVER_DEBUG")) {
      std::fprintf(stderr, "%s %ld bg %08lx\n", candidate.name, diff,
                   background);
    }
    if (best_diff < 0 || diff < best_diff) {
      best_diff = diff;
      best = candidate.name;
    }
  }
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  SelectObject(screen, old_shot);
  DeleteObject(shot);
  DeleteDC(screen);
  ReleaseDC(nullptr, desktop);
  return best;
}

std::string Buttons(HWND box) {
  std::string buttons;
  const struct {
    int id;
    const char* name;
  } known[] = {
      {IDOK, "ok"}, {IDYES, "yes"}, {IDNO, "no"}, {IDCANCEL, "cancel"}};
  for (const auto& button : known) {
    HWND item = GetDlgItem(box, button.id);
    if (item != nullptr && IsWindowVisible(item)) {
      if (!buttons.empty()) buttons += "/";
      buttons += button.name;
    }
  }
  return buttons;
}

namespace {

bool Inside(const RECT& inner, const RECT& outer) {
  return inner.left >= outer.left && inner.top >= outer.top &&
         inner.right <= outer.right && inner.bottom <= outer.bottom;
}

// A control's name as a screen reader has it.
std::wstring AccessibleName(HWND control) {
  IAccessible* accessible = nullptr;
  if (FAILED(AccessibleObjectFromWindow(
          control, static_cast<DWORD>(OBJID_CLIENT), __uuidof(IAccessible),
          reinterpret_cast<void**>(&accessible)))) {
    return L"";
  }
  VARIANT self = {};
  self.vt = VT_I4;
  self.lVal = CHILDID_SELF;
  BSTR name = nullptr;
  std::wstring named;
  if (accessible->get_accName(self, &name) == S_OK && name != nullptr) {
    named.assign(name, SysStringLen(name));
  }
  SysFreeString(name);
  accessible->Release();
  return named;
}

}  // namespace

// Where a long report's box stands, and where it opened its text: whether
// box and OK button lie within the work area, whether OK is the default,
// the lines selected and shown first, and the text's accessible name.
std::string ReportPlace(HWND box, HWND edit) {
  MONITORINFO monitor = {};
  monitor.cbSize = sizeof monitor;
  GetMonitorInfoW(MonitorFromWindow(box, MONITOR_DEFAULTTOPRIMARY), &monitor);
  RECT outer, ok;
  GetWindowRect(box, &outer);
  HWND button = GetDlgItem(box, IDOK);
  GetWindowRect(button, &ok);
  const bool by_default =
      (GetWindowLongW(button, GWL_STYLE) & BS_DEFPUSHBUTTON) != 0;
  char place[200];
  std::snprintf(
      place, sizeof place,
      "report: on screen %s, ok on screen %s, ok default %s, "
      "selected line %ld, first shown line %ld\n",
      Inside(outer, monitor.rcWork) ? "yes" : "no",
      Inside(ok, monitor.rcWork) && IsWindowVisible(button) ? "yes" : "no",
      by_default ? "yes" : "no",
      static_cast<long>(SendMessageW(edit, EM_LINEFROMCHAR, -1, 0)),
      static_cast<long>(SendMessageW(edit, EM_GETFIRSTVISIBLELINE, 0, 0)));
  std::string line = place;
  line.insert(line.size() - 1, ", text named " + Escaped(AccessibleName(edit)));
  return line;
}

// A long report's box as a message box behaves: the focus on OK, Ctrl+C
// copying the whole box in MessageBoxW's block form, Space closing it.
// Returns the line for the transcript and whether the box was closed.
std::string ReportKeys(HWND box, const std::wstring& text, bool* closed) {
  GUITHREADINFO gui = {};
  gui.cbSize = sizeof gui;
  GetGUIThreadInfo(GetWindowThreadProcessId(box, nullptr), &gui);
  const bool focus_on_ok = gui.hwndFocus == GetDlgItem(box, IDOK);
  SetForegroundWindow(box);
  Sleep(200);
  Key(VK_CONTROL, true);
  Key('C', true);
  Key('C', false);
  Key(VK_CONTROL, false);
  Sleep(300);
  std::wstring copied;
  if (OpenClipboard(nullptr)) {
    HANDLE data = GetClipboardData(CF_UNICODETEXT);
    const auto* chars = static_cast<const wchar_t*>(GlobalLock(data));
    if (chars != nullptr) copied = chars;
    GlobalUnlock(data);
    CloseClipboard();
  }
  const std::wstring rule = L"---------------------------\r\n";
  const std::wstring block = rule + WindowText(box) + L"\r\n" + rule + text +
                             L"\r\n" + rule + L"OK   \r\n" + rule;
  Key(VK_SPACE, true);
  Key(VK_SPACE, false);
  for (int i = 0; i < 30 && IsWindow(box); ++i) Sleep(100);
  *closed = !IsWindow(box);
  std::string line = "report keys: focus on ok ";
  line += focus_on_ok ? "yes" : "no";
  line += ", ctrl+c copies the box ";
  line += copied == block ? "yes" : "no";
  line += ", space closes ";
  line += *closed ? "yes\n" : "no\n";
  return line;
}
