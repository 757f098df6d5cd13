#include "verify/scan_digest_files.h"

#include <memory>
#include <vector>

#include "common/stop.h"
#include "desktop/show_system_error.h"
#include "hash/hash_context.h"
#include "pipeline/pipeline.h"
#include "platform/last_error.h"
#include "platform/worker_context.h"
#include "verify/list_reading.h"
#include "verify/list_walk.h"

namespace verify {

namespace {

const char16_t kMalformedText[] =
    u"ファイルのフォーマットが不正であるか解析に失敗しました。";

using Names = std::vector<common::WideString>;

// What the scan of all lists uses and has come to, on the scan's thread.
struct Scan {
  Scan(desktop::Desktop& desktop_in, digest::DigestParser& parser_in,
       run::Stage& stage_in, const pipeline::Threads& threads_in)
      : desktop(desktop_in),
        parser(parser_in),
        stage(stage_in),
        threads(threads_in) {}

  desktop::Desktop& desktop;
  digest::DigestParser& parser;
  run::Stage& stage;
  const pipeline::Threads& threads;
  std::vector<char> piece = std::vector<char>(verify::kPieceSize);
  // What the walk told of the folder, once it is over.
  platform::Listed listed = platform::Listed::kNothing;
  platform::WorkerContext context;  // for the lists read in turn
  bool clean = true;
};

// Takes lists `first`, `first` + 1, ... in order into the parser's list, as
// one thread reading them would, while the workers (and the scan, where it
// would wait) read the small ones ahead. Stops at the first list that calls
// for a box and returns its index, or the count: the box is shown once the
// helpers are let go, so that nothing reads behind it, and the lists after
// it are read after it, as one thread would read them.
std::size_t ReadUpToABox(Scan& scan, const std::shared_ptr<const Names>& names,
                         std::size_t first, common::AlgorithmId algorithm,
                         ListEnd* end) {
  const std::size_t count = names->size() - first;
  // A stop of its own, which its End sets; the run's stop ends it too.
  pipeline::Pipeline<ReadAhead, hash::HashContext> lists(
      count, scan.threads,
      [names, first, listed = scan.listed](std::size_t i,
                                           hash::HashContext& context,
                                           verify::ReadAhead* out, bool ahead) {
        return verify::ReadListAhead((*names)[first + i], listed, context, out,
                                     ahead);
      },
      nullptr);
  const common::StopCallback follows(*scan.stage.SharedStop(),
                                     [&lists] { lists.Stop(); });
  const auto free_descriptors = [&lists] {
    if (lists.Workers() == 0) return false;
    lists.GoOnAlone();
    return true;
  };
  for (std::size_t i = 0; i < count; ++i) {
    ReadAhead* read = lists.Take(i);
    if (read == nullptr || scan.stage.Stopped()) {
      end->kind = ListEnd::kStopped;
      return first + i;
    }
    *end =
        read->read
            ? verify::ParseReadAhead(*read, algorithm, scan.parser, scan.stage)
            : verify::ReadList((*names)[first + i], scan.listed, algorithm,
                               scan.parser, scan.piece, scan.context,
                               scan.stage, free_descriptors);
    if (end->kind != ListEnd::kRead) return first + i;
    scan.stage.listed.fetch_add(1);
  }
  return names->size();
}

// A list that calls for a box, at `name`: a malformed one is shown and the
// scan goes on (true); one that could not be read ends its kind's scan.
bool Shown(Scan& scan, const ListEnd& end, const common::WideString& name,
           ListEnd* unreadable) {
  scan.clean = false;
  if (end.kind == ListEnd::kUnreadable) {
    *unreadable = end;
    return false;
  }
  scan.desktop.ShowMessageBox(common::WideString(kMalformedText), name,
                              desktop::MB_ICONERROR);
  scan.stage.listed.fetch_add(1);
  return true;
}

// The *.md5 lists found while the walk goes on, read in turn: the walk and
// the scan are the two threads at work. Returns how many were taken, or
// false in *read_all where one could not be read.
std::size_t ReadWhileWalking(Scan& scan, Found& found, bool* read_all,
                             ListEnd* unreadable) {
  std::size_t at = 0;
  common::WideString name;
  for (; found.WhileWalking(at, &name); ++at) {
    const ListEnd end =
        verify::ReadList(name, platform::Listed::kNothing, common::CALG_MD5,
                         scan.parser, scan.piece, scan.context, scan.stage,
                         [&found] { return found.WaitForWalk(); });
    if (end.kind == ListEnd::kStopped) break;
    if (end.kind == ListEnd::kRead) {
      scan.stage.listed.fetch_add(1);
    } else if (!Shown(scan, end, name, unreadable)) {
      *read_all = false;
      break;
    }
  }
  return at;
}

// The lists of one kind from `at` on, in order, each malformed one shown by
// name; false where one could not be read, which ends the kind's scan.
bool ReadKind(Scan& scan, const std::shared_ptr<const Names>& names,
              std::size_t at, common::AlgorithmId algorithm,
              ListEnd* unreadable) {
  while (at < names->size()) {
    ListEnd end;
    at = ReadUpToABox(scan, names, at, algorithm, &end);
    if (at == names->size() || end.kind == ListEnd::kStopped) return true;
    if (!Shown(scan, end, (*names)[at], unreadable)) return false;
    ++at;
  }
  return true;
}

}  // namespace

bool ScanDigestFiles(desktop::Desktop& desktop, digest::DigestParser& parser,
                     run::Stage& stage, const pipeline::Threads& threads,
                     bool* out_of_handles, platform::Listed* listed) {
  *out_of_handles = false;
  *listed = platform::Listed::kNothing;
  Scan scan(desktop, parser, stage, threads);
  Found found(threads, stage);
  const common::AlgorithmId algorithms[] = {common::CALG_MD5,
                                            common::CALG_SHA1};
  for (int kind = 0; kind < 2; ++kind) {
    ListEnd unreadable;
    bool read_all = true;
    const std::size_t at =
        kind == 0 ? ReadWhileWalking(scan, found, &read_all, &unreadable) : 0;
    if (read_all) {
      std::shared_ptr<const Names> names;
      if (stage.Stopped() || !found.All(kind, &names)) return scan.clean;
      scan.listed = found.FolderListed();
      *listed = scan.listed;
      read_all = ReadKind(scan, names, at, algorithms[kind], &unreadable);
    }
    if (!read_all) {
      desktop::ShowSystemError(desktop, unreadable.error);
      // Out of descriptors: what was found so far is not all there is.
      *out_of_handles = unreadable.out_of_handles;
      if (*out_of_handles) return false;
    }
    if (stage.Stopped()) return scan.clean;
    // Where a list could not be read, the kind's listing had ended there.
    const platform::ErrorCode broken = found.Broken(kind);
    if (read_all && broken != 0) {
      scan.clean = false;
      desktop::ShowSystemError(desktop, broken);
      *out_of_handles = platform::IsOutOfHandles(broken);
      if (*out_of_handles) return false;
    }
  }
  return scan.clean;
}

}  // namespace verify
