#include "verify/scan_digest_files.h"

#include "app/show_system_error.h"
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
  if (!parser.Parse(content.Text(), algorithm)) {
    desktop.ShowMessageBox(WideString(kMalformedText), name, MB_ICONERROR);
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
               ScanOne(desktop, entry.name, algorithm, parser);
      },
      &broken);
  if (broken != 0) ShowSystemError(desktop, broken);
}
