#include "verify/scan_digest_files.h"

#include "app/show_system_error.h"
#include "digest/list_text.h"
#include "platform/for_each_entry.h"
#include "verify/read_whole_file.h"

namespace {

const char16_t kMalformedText[] =
    u"ファイルのフォーマットが不正であるか解析に失敗しました。";

// Returns false when the file could not be read, which ends the scan.
bool ScanOne(platform::Desktop& desktop, const WideString& name,
             AlgorithmId algorithm, DigestParser& parser) {
  FileContent content;
  if (!ReadWholeFile(name, &content)) {
    ShowSystemError(desktop, platform::GetLastErrorCode());
    return false;
  }
  const ListText list(content.Text(), content.size);
  if (!parser.Parse(list.Text(), list.Size(), algorithm, list.Encoding())) {
    desktop.ShowMessageBox(WideString(kMalformedText), name, MB_ICONERROR);
  }
  return true;
}

char16_t Lower(char16_t unit) {
  return unit >= u'A' && unit <= u'Z' ? static_cast<char16_t>(unit + 32) : unit;
}

// Whether the entry's own name ends as the pattern ("*.md5") does, in any
// letter case. On Windows a pattern also matches short names: "*.md5" finds
// "x.md5abc" through "X~1.MD5", which is no digest file.
bool OwnNameMatches(std::u16string_view name, std::u16string_view pattern) {
  const std::u16string_view suffix = pattern.substr(1);
  if (name.size() < suffix.size()) return false;
  const std::u16string_view end = name.substr(name.size() - suffix.size());
  for (std::size_t i = 0; i < suffix.size(); ++i) {
    if (Lower(end[i]) != Lower(suffix[i])) return false;
  }
  return true;
}

}  // namespace

void ScanDigestFiles(platform::Desktop& desktop, const WideString& pattern,
                     AlgorithmId algorithm, DigestParser& parser) {
  // A broken enumeration ends the scan, so no record is listed twice.
  platform::ErrorCode broken = 0;
  platform::ForEachEntry(
      pattern,
      [&](const platform::DirectoryEntry& entry) {
        return entry.kind == platform::EntryKind::kDirectory ||
               !OwnNameMatches(entry.name.View(), pattern.View()) ||
               ScanOne(desktop, entry.name, algorithm, parser);
      },
      &broken);
  if (broken != 0) ShowSystemError(desktop, broken);
}
