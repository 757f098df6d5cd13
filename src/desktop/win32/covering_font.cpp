#include <string>
#include <vector>

#include "desktop/win32/message_font.h"

namespace desktop {
namespace win32 {
namespace {

// The distinct characters past ASCII that a text holds (a few hundred at
// most are looked at: a report repeats the same few texts).
std::wstring DistinctWide(std::u16string_view text) {
  // A bit for each unit: a report of a million lines is looked at once.
  std::vector<bool> seen(0x10000);
  std::wstring distinct;
  for (const char16_t unit : text) {
    if (unit < 0x80 || (unit >= 0xD800 && unit <= 0xDFFF) || seen[unit]) {
      continue;
    }
    seen[unit] = true;
    distinct.push_back(static_cast<wchar_t>(unit));
    if (distinct.size() >= 512) break;
  }
  return distinct;
}

// How many of the characters the font has a glyph for; all of them where
// the system cannot tell.
std::size_t CountCovered(HDC screen, HFONT font,
                         const std::wstring& characters) {
  if (characters.empty()) return 0;
  HGDIOBJ old = ::SelectObject(screen, font);
  std::vector<WORD> glyphs(characters.size());
  const DWORD done = ::GetGlyphIndicesW(
      screen, characters.c_str(), static_cast<int>(characters.size()),
      glyphs.data(), GGI_MARK_NONEXISTING_GLYPHS);
  ::SelectObject(screen, old);
  if (done == GDI_ERROR) return characters.size();  // cannot tell: keep it
  std::size_t covered = 0;
  for (const WORD glyph : glyphs) {
    if (glyph != 0xFFFF) ++covered;
  }
  return covered;
}

bool Covers(HDC screen, HFONT font, const std::wstring& characters) {
  return CountCovered(screen, font, characters) == characters.size();
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

HFONT FontCovering(HFONT base, std::u16string_view text,
                   std::u16string_view own) {
  const std::wstring characters = DistinctWide(text);
  if (characters.empty()) return nullptr;
  const std::wstring required = DistinctWide(own);
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
    // The program's own texts must stay readable whatever the names: a face
    // that has them all, and of those the one with most of the rest.
    std::size_t best = 0;
    for (const std::wstring& face : faces) {
      if (face.size() >= LF_FACESIZE) continue;
      LOGFONTW candidate = like;
      face.copy(candidate.lfFaceName, face.size());
      candidate.lfFaceName[face.size()] = L'\0';
      HFONT font = ::CreateFontIndirectW(&candidate);
      if (font == nullptr) continue;
      const std::size_t covered = Covers(screen, font, required)
                                      ? CountCovered(screen, font, characters)
                                      : 0;
      if (covered > best || (found == nullptr && covered > 0)) {
        if (found != nullptr) ::DeleteObject(found);
        found = font;
        best = covered;
      } else {
        ::DeleteObject(font);
      }
      if (best == characters.size()) break;
    }
  }
  ::ReleaseDC(nullptr, screen);
  return found;
}

}  // namespace win32
}  // namespace desktop
