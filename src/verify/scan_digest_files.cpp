#include "verify/scan_digest_files.h"

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <new>
#include <thread>
#include <utility>
#include <vector>

#include "common/mutex.h"
#include "common/out_of_memory.h"
#include "common/unicode.h"
#include "desktop/show_system_error.h"
#include "digest/list_feed.h"
#include "platform/file.h"
#include "platform/for_each_entry.h"
#include "platform/last_error.h"
#include "run/stop.h"

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
// keeps appending to is not read for ever. Where no descriptor was free,
// `free_descriptors` lets the scan's own go, and where it did (true), the
// list is opened again; failing again sets *out_of_handles.
bool ScanOne(platform::Desktop& desktop, const WideString& name,
             AlgorithmId algorithm, DigestParser& parser,
             std::vector<char>& piece, platform::WorkerContext& context,
             run::Stage& stage, const std::function<bool()>& free_descriptors,
             bool* clean, bool* out_of_handles) {
  platform::InputFile file;
  bool opened = file.Open(name, context);
  if (!opened && platform::IsOutOfHandles(platform::GetLastErrorCode()) &&
      free_descriptors()) {
    opened = file.Open(name, context);
  }
  if (!opened) {
    const platform::ErrorCode error = platform::GetLastErrorCode();
    *clean = false;
    *out_of_handles = platform::IsOutOfHandles(error);
    ShowSystemError(desktop, error);
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

// The lists of one kind, as the folder names them, and their bytes.
struct Lists {
  std::vector<WideString> names;
  std::uint64_t bytes = 0;
  platform::ErrorCode broken = 0;
};

// The folder's lists, found on a thread of their own while the *.md5 lists
// found first are read: a folder of many files takes as long to list as its
// lists take to read. Shared with that thread, which may outlive the scan
// inside a call that does not return.
struct Walk {
  Mutex mutex;
  CondVar found;  // a name, or the end; notified under the mutex
  Lists kinds[2] GUARDED_BY(mutex);  // *.md5, *.sha1
  bool done GUARDED_BY(mutex) = false;
  bool out_of_memory GUARDED_BY(mutex) = false;
  // The scan's stage, told the lists' count and bytes once the walk is
  // over, by whichever thread sees that first; null once the scan ends.
  run::Stage* stage GUARDED_BY(mutex) = nullptr;
  bool told GUARDED_BY(mutex) = false;
  // The run's: the walk ends at it. Otherwise the scan outlasts the walk,
  // whose end it waits for (an exception aside, after which the walk only
  // finishes its listing).
  std::shared_ptr<const run::Stop> stop;
};

// The progress counts the lists as soon as all are known, not once the list
// being read is read whole.
void Tell(Walk& walk) REQUIRES(walk.mutex) {
  if (walk.told || !walk.done || walk.out_of_memory || walk.stage == nullptr) {
    return;
  }
  walk.told = true;
  for (const Lists& lists : walk.kinds) {
    walk.stage->list_bytes_all.fetch_add(lists.bytes);
    walk.stage->lists.fetch_add(lists.names.size());
  }
}

// An entry a walk found: kept as a list of `kind`, unless it is a folder.
void Listed(const platform::DirectoryEntry& entry, int kind, Walk& walk) {
  if (entry.kind == platform::EntryKind::kDirectory) return;
  std::uint64_t size = 0;
  if (!platform::SizeByName(entry.name, &size)) size = 0;
  const Lock lock(walk.mutex);
  walk.kinds[kind].names.push_back(entry.name);
  walk.kinds[kind].bytes += size;
  if (kind == 0) walk.found.NotifyAll();
}

// Both kinds in one walk: a large folder is read once, not once per kind.
// Where the walk breaks, the *.sha1 lists are listed again by a walk of
// their own, so that each kind is listed as a walk of its own would list
// it: the same lists, and the same boxes in the same order.
void ListBoth(Walk& walk, const std::function<bool()>& go_on) {
  platform::ErrorCode broken = 0;
  platform::ForEachEntryEndingWith(
      WideString(u".md5"), WideString(u".sha1"),
      [&](const platform::DirectoryEntry& entry) {
        Listed(entry, entry.other ? 1 : 0, walk);
        return go_on();
      },
      &broken);
  if (broken != 0) {
    {
      const Lock lock(walk.mutex);
      walk.kinds[0].broken = broken;
      walk.kinds[1] = Lists();
    }
    // A broken enumeration ends the listing, so no list is read twice.
    const WideString pattern(u"*.sha1");
    platform::ErrorCode sha1_broken = 0;
    platform::ForEachEntry(
        pattern,
        [&](const platform::DirectoryEntry& entry) {
          // Only the entry's own name: on Windows "*.md5" also finds
          // "x.md5abc" through its short name "X~1.MD5".
          if (EndsWithFoldingAscii(entry.name.View(),
                                   pattern.View().substr(1))) {
            Listed(entry, 1, walk);
          }
          return go_on();
        },
        &sha1_broken);
    const Lock lock(walk.mutex);
    walk.kinds[1].broken = sha1_broken;
  }
}

// `go_on` false ends the walk at the next entry.
void RunWalk(const std::shared_ptr<Walk>& walk,
             const std::function<bool()>& go_on) {
  const bool ran = RunOrOutOfMemory([&] { ListBoth(*walk, go_on); });
  const Lock lock(walk->mutex);
  walk->out_of_memory = !ran;
  walk->done = true;
  Tell(*walk);
  walk->found.NotifyAll();
}

// The reading's side of a walk: the names in the order found, the *.sha1
// ones once the walk is over.
class Found {
 public:
  Found(const pipeline::Threads& threads, run::Stage& stage)
      : walk_(std::make_shared<Walk>()),
        stage_(stage),
        wake_(*stage.SharedStop(), [walk = walk_.get()] {
          const Lock lock(walk->mutex);
          walk->found.NotifyAll();
        }) {
    walk_->stage = &stage;
    walk_->stop = stage.SharedStop();
    // The thread's walk and the scan waiting for it both end at the stop.
    std::function<void()> body = [walk = walk_] {
      RunWalk(walk, [&walk] { return !walk->stop->Requested(); });
    };
    // One disk that seeks, or one CPU: listed first, then read.
    if (threads.workers <= 1 || threads.cpus <= 1 ||
        !threads.start(std::move(body), &thread_)) {
      RunWalk(walk_, [&stage] { return !stage.Stopped(); });
    }
  }
  ~Found() {
    Lock lock(walk_->mutex);
    walk_->stage = nullptr;
    const bool done = walk_->done;
    lock.Unlock();
    if (!thread_.joinable()) return;
    // A walk not over yet (it may be stuck in the folder) ends alone at its
    // next list, touching only what it shares.
    if (done) {
      thread_.join();
    } else {
      thread_.detach();
    }
  }
  Found(const Found&) = delete;
  Found& operator=(const Found&) = delete;

  // List `i` of `kind`; false past the last, or once the stage stops.
  bool Name(int kind, std::size_t i, WideString* name) {
    Lock lock(walk_->mutex);
    for (;;) {
      if (walk_->done && walk_->out_of_memory) throw std::bad_alloc();
      const std::vector<WideString>& names = walk_->kinds[kind].names;
      if ((kind == 0 || walk_->done) && i < names.size()) {
        *name = names[i];
        return true;
      }
      if (walk_->done || stage_.Stopped()) return false;
      // The walk tells each name and its end; the stop's callback, a stop.
      walk_->found.Wait(lock);
    }
  }
  // Waits for the walk to end, letting its descriptor go: true where it was
  // still going on a thread, false once the stage stops.
  bool WaitForWalk() {
    if (!thread_.joinable()) return false;
    Lock lock(walk_->mutex);
    const bool was_going = !walk_->done;
    while (!walk_->done && !stage_.Stopped()) {
      walk_->found.WaitUntil(lock, std::chrono::steady_clock::now() +
                                       std::chrono::milliseconds(10));
    }
    return was_going && walk_->done;
  }
  // Why the listing of `kind` ended early, once every name was taken.
  platform::ErrorCode Broken(int kind) const {
    const Lock lock(walk_->mutex);
    return walk_->kinds[kind].broken;
  }

 private:
  const std::shared_ptr<Walk> walk_;
  run::Stage& stage_;
  // Dies before the walk it wakes.
  run::StopCallback wake_;
  std::thread thread_;
};

}  // namespace

bool ScanDigestFiles(platform::Desktop& desktop, DigestParser& parser,
                     run::Stage& stage, const pipeline::Threads& threads,
                     bool* out_of_handles) {
  bool clean = true;
  *out_of_handles = false;
  std::vector<char> piece(kPieceSize);
  platform::WorkerContext context;
  Found found(threads, stage);
  const AlgorithmId algorithms[] = {CALG_MD5, CALG_SHA1};
  for (int kind = 0; kind < 2; ++kind) {
    bool read_all = true;
    WideString name;
    for (std::size_t i = 0; found.Name(kind, i, &name); ++i) {
      if (stage.Stopped()) return clean;
      read_all = ScanOne(
          desktop, name, algorithms[kind], parser, piece, context, stage,
          [&found] { return found.WaitForWalk(); }, &clean, out_of_handles);
      // Out of descriptors: what was found so far is not all there is.
      if (*out_of_handles) return false;
      if (!read_all) break;
      stage.listed.fetch_add(1);
    }
    if (stage.Stopped()) return clean;
    // Where a list could not be read, the kind's listing had ended there.
    const platform::ErrorCode broken = found.Broken(kind);
    if (read_all && broken != 0) {
      clean = false;
      ShowSystemError(desktop, broken);
      *out_of_handles = platform::IsOutOfHandles(broken);
      if (*out_of_handles) return false;
    }
  }
  return clean;
}
