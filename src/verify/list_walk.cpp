#include "verify/list_walk.h"

#include <chrono>
#include <functional>
#include <new>
#include <utility>

#include "common/mutex.h"
#include "common/out_of_memory.h"
#include "common/unicode.h"
#include "platform/file.h"
#include "platform/for_each_entry.h"

namespace verify {

// The lists of one kind, as the folder names them, and their bytes.
struct Lists {
  std::vector<common::WideString> names;
  std::uint64_t bytes = 0;
  platform::ErrorCode broken = 0;
};

// The folder's lists, shared with the walk's thread, which may outlive the
// scan inside a call that does not return.
struct Walk {
  common::Mutex mutex;
  common::CondVar found;  // a name, the end, a stop; notified under the mutex
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

namespace {

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
  const common::Lock lock(walk.mutex);
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
      common::WideString(u".md5"), common::WideString(u".sha1"),
      [&](const platform::DirectoryEntry& entry) {
        Listed(entry, entry.other ? 1 : 0, walk);
        return go_on();
      },
      &broken);
  if (broken != 0) {
    {
      const common::Lock lock(walk.mutex);
      walk.kinds[0].broken = broken;
      walk.kinds[1] = Lists();
    }
    // A broken enumeration ends the listing, so no list is read twice.
    const common::WideString pattern(u"*.sha1");
    platform::ErrorCode sha1_broken = 0;
    platform::ForEachEntry(
        pattern,
        [&](const platform::DirectoryEntry& entry) {
          // Only the entry's own name: on Windows "*.md5" also finds
          // "x.md5abc" through its short name "X~1.MD5".
          if (common::EndsWithFoldingAscii(entry.name.View(),
                                           pattern.View().substr(1))) {
            Listed(entry, 1, walk);
          }
          return go_on();
        },
        &sha1_broken);
    const common::Lock lock(walk.mutex);
    walk.kinds[1].broken = sha1_broken;
  }
}

// `go_on` false ends the walk at the next entry.
void RunWalk(const std::shared_ptr<Walk>& walk,
             const std::function<bool()>& go_on) {
  const bool ran = common::RunOrOutOfMemory([&] { ListBoth(*walk, go_on); });
  const common::Lock lock(walk->mutex);
  walk->out_of_memory = !ran;
  walk->done = true;
  Tell(*walk);
  walk->found.NotifyAll();
}

}  // namespace

Found::Found(const pipeline::Threads& threads, run::Stage& stage)
    : walk_(std::make_shared<Walk>()),
      stage_(stage),
      wake_(*stage.SharedStop(), [walk = walk_.get()] {
        const common::Lock lock(walk->mutex);
        walk->found.NotifyAll();
      }) {
  walk_->stage = &stage;
  walk_->stop = stage.SharedStop();
  // The thread's walk and the scan waiting for it both end at the stop.
  std::function<void()> body = [walk = walk_] {
    RunWalk(walk, [&walk] { return !walk->stop->Requested(); });
  };
  // One disk that seeks, or one CPU: listed on the caller's thread.
  if (threads.workers <= 1 || threads.cpus <= 1 ||
      !threads.start(std::move(body), &thread_)) {
    RunWalk(walk_, [&stage] { return !stage.Stopped(); });
  }
}

Found::~Found() {
  common::Lock lock(walk_->mutex);
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

bool Found::All(int kind, std::vector<common::WideString>* names) {
  common::Lock lock(walk_->mutex);
  // The walk tells its end; the stop's callback, a stop.
  while (!walk_->done && !stage_.Stopped()) walk_->found.Wait(lock);
  if (!walk_->done) return false;
  if (walk_->out_of_memory) throw std::bad_alloc();
  // Told already (Tell), and asked once: the scan takes them.
  *names = std::move(walk_->kinds[kind].names);
  return true;
}

bool Found::WhileWalking(std::size_t i, common::WideString* name) {
  common::Lock lock(walk_->mutex);
  for (;;) {
    if (walk_->done || stage_.Stopped()) return false;
    if (i < walk_->kinds[0].names.size()) {
      *name = walk_->kinds[0].names[i];
      return true;
    }
    walk_->found.Wait(lock);
  }
}

bool Found::WaitForWalk() {
  if (!thread_.joinable()) return false;
  common::Lock lock(walk_->mutex);
  const bool was_going = !walk_->done;
  while (!walk_->done && !stage_.Stopped()) walk_->found.Wait(lock);
  return was_going && walk_->done;
}

platform::ErrorCode Found::Broken(int kind) const {
  const common::Lock lock(walk_->mutex);
  return walk_->kinds[kind].broken;
}

}  // namespace verify
