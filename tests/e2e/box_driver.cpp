// Drives the Windows program as a user would: holds SHIFT/CTRL with
// SendInput, starts the program in a folder, reads every message box it
// shows (caption, text, icon, buttons), answers it and writes a UTF-8
// transcript ending with the exit code.
//
//   box_driver.exe PROGRAM FOLDER KEYS ANSWERS TRANSCRIPT [KILL_MS]
//   KEYS: none | shift | ctrl | shift+ctrl
//   ANSWERS: comma-separated yes/no for the Yes/No boxes, in order ("-": none)
//   KILL_MS: end the program with TerminateProcess that long after the first
//   answer, as a crash or a logout would
//
// A progress window (a dialog with a progress bar) is left alone, unless
// BOX_DRIVER_CANCEL_MS is set: then it is read that long after it shows
// (its texts, the bar's position) and its Cancel pressed.
#include <windows.h>
// After <windows.h>, which it builds on.
#include <commctrl.h>
#include <oleacc.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "box_reading.h"

namespace {

std::vector<std::string> Split(const std::string& list) {
  std::vector<std::string> items;
  if (list == "-" || list.empty()) return items;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = list.find(',', start);
    items.push_back(list.substr(start, comma - start));
    if (comma == std::string::npos) return items;
    start = comma + 1;
  }
}

// Polls `folder` until a temporary file of the program's shows, or the
// program ends: the kill after it lands in the window where one exists.
void WaitForTemporary(const wchar_t* folder, HANDLE process) {
  const std::wstring pattern = std::wstring(folder) + L"\\.~digestbox-*.tmp";
  while (WaitForSingleObject(process, 0) == WAIT_TIMEOUT) {
    WIN32_FIND_DATAW found;
    const HANDLE scan = FindFirstFileW(pattern.c_str(), &found);
    if (scan != INVALID_HANDLE_VALUE) {
      FindClose(scan);
      return;
    }
  }
}

// What the driver was asked for.
struct Options {
  const wchar_t* program = nullptr;
  const wchar_t* folder = nullptr;
  bool shift = false;
  bool ctrl = false;
  std::vector<std::string> answers;
  int kill_ms = -1;  // -1: no kill
  bool kill_at_temporary = false;
  int cancel_ms = -1;  // -1: a progress window is left alone
};

void ReleaseKeys(const Options& options) {
  if (options.ctrl) Key(VK_CONTROL, false);
  if (options.shift) Key(VK_SHIFT, false);
}

// A progress window, read `cancel_ms` after it shows, then cancelled.
void CancelProgress(FILE* out, HWND box, int cancel_ms) {
  Sleep(static_cast<DWORD>(cancel_ms));
  Children children;
  EnumChildWindows(box, ReadChild, reinterpret_cast<LPARAM>(&children));
  std::fprintf(out,
               "progress\ncaption: %s\nbuttons: %s\ntext: %s\n"
               "bar: %ld\n",
               Escaped(WindowText(box)).c_str(), Buttons(box).c_str(),
               Escaped(children.texts).c_str(),
               static_cast<long>(SendMessageW(children.bar, PBM_GETPOS, 0, 0)));
  PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(box, IDCANCEL)));
}

// A box written to the transcript; a long report's box also tried with
// its keys, which may close it. Its buttons.
std::string ReadBox(FILE* out, HWND box, Children& children, DWORD started,
                    bool* closed) {
  const std::string buttons = Buttons(box);
  if (children.edit != nullptr) {
    // An edit control in another process answers only WM_GETTEXT.
    const auto length = static_cast<std::size_t>(
        SendMessageW(children.edit, WM_GETTEXTLENGTH, 0, 0));
    children.text.assign(length + 1, L'\0');
    SendMessageW(children.edit, WM_GETTEXT, length + 1,
                 reinterpret_cast<LPARAM>(&children.text[0]));
    children.text.resize(length);
  }
  std::fprintf(out, "box\ncaption: %s\nicon: %s\nbuttons: %s\ntext: %s\n",
               Escaped(WindowText(box)).c_str(), IconOf(children.icon).c_str(),
               buttons.c_str(), Escaped(children.text).c_str());
  *closed = false;
  if (children.edit != nullptr) {
    std::printf("a report box, shown %lu ms after the start\n",
                GetTickCount() - started);
    std::fflush(stdout);
    std::fputs(ReportPlace(box, children.edit).c_str(), out);
    std::fputs(ReportKeys(box, children.text, closed).c_str(), out);
  }
  return buttons;
}

// Yes or No, in turn, for a question; OK for any other box.
void AnswerBox(FILE* out, HWND box, const std::string& buttons,
               const Options& options, std::size_t* next_answer) {
  int button = IDOK;
  if (buttons == "yes/no") {
    const std::string answer = *next_answer < options.answers.size()
                                   ? options.answers[(*next_answer)++]
                                   : "no";
    button = answer == "yes" ? IDYES : IDNO;
    std::fprintf(out, "answer: %s\n", answer.c_str());
  }
  PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(box, button)));
}

// The program ended with TerminateProcess, KILL_MS after the answer or as
// soon as a temporary file shows.
void Kill(FILE* out, const Options& options, HANDLE process) {
  if (options.kill_at_temporary) {
    WaitForTemporary(options.folder, process);
  } else {
    Sleep(static_cast<DWORD>(options.kill_ms));
  }
  TerminateProcess(process, 137);
  WaitForSingleObject(process, INFINITE);
  std::fprintf(out, "killed\n");
}

// Each box the program shows, read and answered, until it ends.
void Drive(FILE* out, const Options& options,
           const PROCESS_INFORMATION& process) {
  const DWORD started = GetTickCount();
  std::set<HWND> seen;
  std::size_t next_answer = 0;
  bool keys_held = options.shift || options.ctrl;
  const DWORD deadline = GetTickCount() + 120000;
  while (WaitForSingleObject(process.hProcess, 100) == WAIT_TIMEOUT) {
    if (GetTickCount() > deadline) {
      std::fprintf(out, "timeout\n");
      TerminateProcess(process.hProcess, 99);
      break;
    }
    Finder finder = {process.dwProcessId, &seen, nullptr};
    EnumWindows(FindBox, reinterpret_cast<LPARAM>(&finder));
    if (finder.found == nullptr) continue;
    HWND box = finder.found;
    seen.insert(box);
    Children children;
    EnumChildWindows(box, ReadChild, reinterpret_cast<LPARAM>(&children));
    if (children.bar == nullptr) {
      Sleep(300);  // let it paint before its icon is read
      children = Children();
      EnumChildWindows(box, ReadChild, reinterpret_cast<LPARAM>(&children));
    }
    if (children.bar != nullptr) {
      if (options.cancel_ms >= 0) CancelProgress(out, box, options.cancel_ms);
      continue;
    }
    if (keys_held) {  // read once at start: the first box comes after
      ReleaseKeys(options);
      keys_held = false;
    }
    bool closed = false;
    const std::string buttons = ReadBox(out, box, children, started, &closed);
    if (closed) continue;
    AnswerBox(out, box, buttons, options, &next_answer);
    if (options.kill_ms >= 0 && buttons == "yes/no") {
      Kill(out, options, process.hProcess);
      break;
    }
  }
  if (keys_held) ReleaseKeys(options);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 6 && argc != 7) {
    std::fprintf(
        stderr,
        "usage: box_driver PROGRAM FOLDER KEYS ANSWERS OUT [KILL_MS]\n");
    return 2;
  }
  Options options;
  options.program = argv[1];
  options.folder = argv[2];
  const std::wstring keys = argv[3];
  options.shift = keys.find(L"shift") != std::wstring::npos;
  options.ctrl = keys.find(L"ctrl") != std::wstring::npos;
  options.answers = Split(Utf8(argv[4]));
  // KILL_MS "tmp": as soon as a temporary file shows in the folder.
  options.kill_at_temporary = argc == 7 && std::wstring(argv[6]) == L"tmp";
  options.kill_ms = options.kill_at_temporary ? 0
                    : argc == 7               ? _wtoi(argv[6])
                                              : -1;
  const char* cancel = std::getenv("BOX_DRIVER_CANCEL_MS");
  options.cancel_ms = cancel != nullptr ? std::atoi(cancel) : -1;
  FILE* out = _wfopen(argv[5], L"wb");
  if (out == nullptr) return 2;
  // For the accessible names a screen reader reads.
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

  if (options.shift) Key(VK_SHIFT, true);
  if (options.ctrl) Key(VK_CONTROL, true);
  Sleep(200);

  std::wstring command =
      L"\"" + std::wstring(options.program) + L"\" ignored arguments";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(options.program, &command[0], nullptr, nullptr, FALSE, 0,
                      nullptr, options.folder, &startup, &process)) {
    std::fprintf(out, "start failed: %lu\n", GetLastError());
    std::fclose(out);
    return 2;
  }
  Drive(out, options, process);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  std::fprintf(out, "exit: %lu\n", code);
  std::fclose(out);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return 0;
}
