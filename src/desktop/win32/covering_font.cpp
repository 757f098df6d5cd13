#include <set>
#include <string>
#include <vector>

#include "desktop/win32/message_font.h"

namespace platform {
namespace win32 {
namespace {

// The distinct characters past ASCII that a text holds (a few hundred at
// most are looked at: a report repeats the same few texts).
std::wstring DistinctWide(std::u16string_view text) {
  std::set<wchar_t> seen;
  for (const char16_t unit : text) {
    if (unit >= 0x80 && (unit < 0xD800 || unit > 0xDFFF)) seen.insert(unit);
    if (seen.size() >= 512) break;
  }
  return std::wstring(seen.begin(), seen.end());
}

bool Covers(HDC screen, HFONT font, const std::wstring& characters) {
  HGDIOBJ old = ::SelectObject(screen, font);
  std::vector<WORD> glyphs(characters.size());
  const DWORD done = ::GetGlyphIndicesW(
      screen, characters.c_str(), static_cast<int>(characters.size()),
      glyphs.data(), GGI_MARK_NONEXISTING_GLYPHS);
  ::SelectObject(screen, old);
  if (done == GDI_ERROR) return true;  // cannot tell: keep the font
  for (const WORD glyph : glyphs) {
    if (glyph == 0xFFFF) return false;
  }
  return true;
}

int CALLBACK AddFace(const LOGFONTW* font, const TEXTMETRICW* /*metrics*/,
                     DWORD /*type*/, LPARAM faces) {
  if (font->lfFaceName[0] != L'@') {  // not the vertical forms
    reinterpret_cast<std::vector<std::wstring>*>(faces)->push_back(
        font->lfFaceName);
  }
  return 1;
}

}  // namespace

HFONT FontCovering(HFONT base, std::u16string_view text) {
  const std::wstring characters = DistinctWide(text);
  if (characters.empty()) return nullptr;
  HDC screen = ::GetDC(nullptr);
  HFONT found = nullptr;
  if (!Covers(screen, base, characters)) {
    // Japanese UI faces first (Windows', then the IPA faces a Linux system
    // gives Wine), then whatever else the system has for Japanese: a large
    // fallback face lays out Latin text slowly.
    std::vector<std::wstring> faces = {L"Yu Gothic UI", L"Meiryo UI",
                                       L"MS UI Gothic", L"IPAPGothic",
                                       L"IPAGothic"};
    LOGFONTW wanted = {};
    wanted.lfCharSet = SHIFTJIS_CHARSET;
    ::EnumFontFamiliesExW(screen, &wanted, AddFace,
                          reinterpret_cast<LPARAM>(&faces), 0);
    LOGFONTW like = {};
    ::GetObjectW(base, sizeof like, &like);
    for (const std::wstring& face : faces) {
      if (face.size() >= LF_FACESIZE) continue;
      LOGFONTW candidate = like;
      face.copy(candidate.lfFaceName, face.size());
      candidate.lfFaceName[face.size()] = L'\0';
      HFONT font = ::CreateFontIndirectW(&candidate);
      if (font != nullptr && Covers(screen, font, characters)) {
        found = font;
        break;
      }
      if (font != nullptr) ::DeleteObject(font);
    }
  }
  ::ReleaseDC(nullptr, screen);
  return found;
}

}  // namespace win32
}  // namespace platform
