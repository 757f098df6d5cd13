#pragma once

// What box_driver reads of a window of the program's: its texts, its
// child controls, its icon and buttons, and how a long report's box sits
// and answers keys.
#include <windows.h>

#include <set>
#include <string>

std::string Utf8(const std::wstring& text);
// Presses or releases `key`, as the user would (SendInput).
void Key(WORD key, bool down);
// CR and LF written as \r and \n so that a box is one line of transcript.
std::string Escaped(const std::wstring& text);

struct Finder {
  DWORD process;
  std::set<HWND>* seen;
  HWND found;
};

// Finds the next dialog of the process not seen yet (EnumWindows).
BOOL CALLBACK FindBox(HWND window, LPARAM param);
std::wstring WindowText(HWND window);

struct Children {
  std::wstring text;
  std::wstring texts;  // every static text, " | " between them
  HWND bar = nullptr;
  HWND icon = nullptr;
  HWND edit = nullptr;  // the program's own box for a long report
};

// Reads one child control into a Children (EnumChildWindows).
BOOL CALLBACK ReadChild(HWND child, LPARAM param);
// The icon shown, told by drawing each standard icon beside the one on
// screen and keeping the closest.
std::string IconOf(HWND icon);
std::string Buttons(HWND box);
// Where a long report's box stands, and where it opened its text.
std::string ReportPlace(HWND box, HWND edit);
// A long report's box as a message box behaves; the line for the
// transcript, and whether the box was closed.
std::string ReportKeys(HWND box, const std::wstring& text, bool* closed);
