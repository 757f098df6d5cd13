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
             run::Stage& stage, bool* clean) {
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
    stage.list_bytes.fetch_add(read);
    const bool fed = feed.Feed(piece.data(), read);
    stage.records.store(parser.Mark());
    if (!fed) {
      well_formed = false;  // the rest is never read
      break;
    }
    // A cancel ends the reading; the records read so far are counted.
    if (stage.Stopped()) return false;
  }
  if (!well_formed) {
    *clean = false;
    desktop.ShowMessageBox(WideString(kMalformedText), name, MB_ICONERROR);
  }
  return true;
}

// The lists of one kind, as the folder names them.
struct Lists {
  AlgorithmId algorithm;
  std::vector<WideString> names;
  platform::ErrorCode broken = 0;
};

// An entry a walk found: kept as a list, unless it is a folder. Its size;
// 0 for a folder, or where none is known.
std::uint64_t Listed(const platform::DirectoryEntry& entry, Lists* lists) {
  if (entry.kind == platform::EntryKind::kDirectory) return 0;
  lists->names.push_back(entry.name);
  std::uint64_t size = 0;
  return platform::SizeByName(entry.name, &size) ? size : 0;
}

Lists ListOf(const WideString& pattern, AlgorithmId algorithm,
             run::Stage& stage) {
  Lists lists{algorithm, {}, 0};
  // A broken enumeration ends the listing, so no list is read twice.
  platform::ForEachEntry(
      pattern,
      [&](const platform::DirectoryEntry& entry) {
        // Only the entry's own name: on Windows "*.md5" also finds
        // "x.md5abc" through its short name "X~1.MD5".
        if (EndsWithFoldingAscii(entry.name.View(), pattern.View().substr(1))) {
          stage.list_bytes_all.fetch_add(Listed(entry, &lists));
        }
        return !stage.Stopped();
      },
      &lists.broken);
  stage.lists.fetch_add(lists.names.size());
  return lists;
}

// Both kinds in one walk: a large folder is read once, not once per kind.
// Where the walk breaks, the *.sha1 lists are listed again by a walk of
// their own, so that each kind is listed as a walk of its own would list
// it: the same lists, and the same boxes in the same order.
void ListBoth(run::Stage& stage, Lists* md5, Lists* sha1) {
  std::uint64_t bytes[2] = {0, 0};
  platform::ForEachEntryEndingWith(
      WideString(u".md5"), WideString(u".sha1"),
      [&](const platform::DirectoryEntry& entry) {
        bytes[entry.other ? 1 : 0] += Listed(entry, entry.other ? sha1 : md5);
        return !stage.Stopped();
      },
      &md5->broken);
  stage.list_bytes_all.fetch_add(bytes[0]);
  stage.lists.fetch_add(md5->names.size());
  if (md5->broken != 0) {
    *sha1 = ListOf(WideString(u"*.sha1"), CALG_SHA1, stage);
    return;
  }
  stage.list_bytes_all.fetch_add(bytes[1]);
  stage.lists.fetch_add(sha1->names.size());
}

}  // namespace

bool ScanDigestFiles(platform::Desktop& desktop, DigestParser& parser,
                     run::Stage& stage) {
  bool clean = true;
  std::vector<char> piece(kPieceSize);
  platform::WorkerContext context;
  // Both kinds are listed first, so that the window has their count.
  Lists kinds[] = {{CALG_MD5, {}, 0}, {CALG_SHA1, {}, 0}};
  ListBoth(stage, &kinds[0], &kinds[1]);
  for (const Lists& lists : kinds) {
    bool read_all = true;
    for (const WideString& name : lists.names) {
      if (stage.Stopped()) return clean;
      read_all = ScanOne(desktop, name, lists.algorithm, parser, piece, context,
                         stage, &clean);
      if (!read_all) break;
      stage.listed.fetch_add(1);
    }
    if (stage.Stopped()) return clean;
    // Where a list could not be read, the kind's listing had ended there.
    if (read_all && lists.broken != 0) {
      clean = false;
      ShowSystemError(desktop, lists.broken);
    }
  }
  return clean;
}
