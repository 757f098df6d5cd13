#include "verify/scan_digest_files.h"

#include <algorithm>
#include <vector>

#include "common/unicode.h"
#include "desktop/show_system_error.h"
#include "digest/list_feed.h"
#include "platform/file.h"
#include "platform/for_each_entry.h"
#include "platform/last_error.h"

namespace {

const char16_t kMalformedText[] =
    u"ファイルのフォーマットが不正であるか解析に失敗しました。";

// Lists are read in pieces and parsed as they come, never held whole: a
// sparse list of gigabytes of zeros costs one piece and ends at its first
// byte.
constexpr std::uint32_t kPieceSize = 64 * 1024;

// Returns false when the file could not be read, which ends the scan; none
// of its records is kept then. A list is read up to the size it had when it
// was opened, as one read of that size would: one that another process
// keeps appending to is not read for ever.
bool ScanOne(platform::Desktop& desktop, const WideString& name,
             AlgorithmId algorithm, DigestParser& parser,
             std::vector<char>& piece, platform::WorkerContext& context,
             bool* clean) {
  platform::InputFile file;
  if (!file.Open(name, context)) {
    *clean = false;
    ShowSystemError(desktop, platform::GetLastErrorCode());
    return false;
  }
  const std::size_t mark = parser.Mark();
  ListFeed feed(parser, algorithm);
  bool well_formed = true;
  for (std::uint64_t left = file.SizeAtOpen();;) {
    std::uint32_t read = 0;
    const auto ask =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(left, kPieceSize));
    if (ask > 0 && !file.Read(piece.data(), ask, &read)) {
      const platform::ErrorCode error = platform::GetLastErrorCode();
      parser.DropFrom(mark);
      *clean = false;
      ShowSystemError(desktop, error);
      return false;
    }
    if (read == 0) {
      well_formed = feed.Finish();
      break;
    }
    left -= read;
    if (!feed.Feed(piece.data(), read)) {
      well_formed = false;  // the rest is never read
      break;
    }
  }
  if (!well_formed) {
    *clean = false;
    desktop.ShowMessageBox(WideString(kMalformedText), name, MB_ICONERROR);
  }
  return true;
}

}  // namespace

bool ScanDigestFiles(platform::Desktop& desktop, const WideString& pattern,
                     AlgorithmId algorithm, DigestParser& parser) {
  bool clean = true;
  std::vector<char> piece(kPieceSize);
  platform::WorkerContext context;
  // A broken enumeration ends the scan, so no record is listed twice.
  platform::ErrorCode broken = 0;
  platform::ForEachEntry(
      pattern,
      [&](const platform::DirectoryEntry& entry) {
        return entry.kind == platform::EntryKind::kDirectory ||
               // Only the entry's own name: on Windows "*.md5" also finds
               // "x.md5abc" through its short name "X~1.MD5".
               !EndsWithFoldingAscii(entry.name.View(),
                                     pattern.View().substr(1)) ||
               ScanOne(desktop, entry.name, algorithm, parser, piece, context,
                       &clean);
      },
      &broken);
  if (broken != 0) {
    clean = false;
    ShowSystemError(desktop, broken);
  }
  return clean;
}
