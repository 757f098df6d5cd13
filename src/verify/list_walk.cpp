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

using Names = std::vector<common::WideString>;

// The lists of one kind, as the folder names them. Once the walk is over,
// they are shared, never changed: the scan reads them, and so does the
// window's sizer, which may outlive the scan.
struct Lists {
  std::shared_ptr<Names> names = std::make_shared<Names>();
  platform::ErrorCode broken = 0;
};

// The folder's lists, shared with the walk's thread, which may outlive the
// scan inside a call that does not return.
struct Walk {
  common::Mutex mutex;
  common::CondVar found;  // a name, the end, a stop; notified under the mutex
  Lists kinds[2] GUARDED_BY(mutex);  // *.md5, *.sha1
  bool done GUARDED_BY(mutex) = false;
  // The walk reached the folder's end and saw only files and folders.
  bool only_files GUARDED_BY(mutex) = false;
  bool out_of_memory GUARDED_BY(mutex) = false;
  // The scan's stage, told the lists' count and names once the walk is
  // over, by whichever thread sees that first; null once the scan ends.
  run::Stage* stage GUARDED_BY(mutex) = nullptr;
  bool told GUARDED_BY(mutex) = false;
  // The run's: the walk ends at it. Otherwise the scan outlasts the walk,
  // whose end it waits for (an exception aside, after which the walk only
  // finishes its listing).
  std::shared_ptr<const common::Stop> stop;
};

namespace {

// The lists found, as the stage is told them: their count, and their sizes
// asked only once a window shows them (a size by name costs a path lookup
// a list, as much as opening it).
run::Watch FoundLists(Walk& walk) REQUIRES(walk.mutex) {
  std::shared_ptr<const Names> md5 = walk.kinds[0].names;
  std::shared_ptr<const Names> sha1 = walk.kinds[1].names;
  run::Watch lists;
  lists.count = md5->size() + sha1->size();
  lists.size_of = [md5, sha1](std::size_t i, std::uint64_t* size) {
    const common::WideString& name =
        i < md5->size() ? (*md5)[i] : (*sha1)[i - md5->size()];
    return platform::SizeByName(name, size);
  };
  return lists;
}

// The progress counts the lists as soon as all are known, not once the list
// being read is read whole.
void Tell(Walk& walk, run::Watch lists) REQUIRES(walk.mutex) {
  if (walk.told || !walk.done || walk.out_of_memory || walk.stage == nullptr) {
    return;
  }
  walk.told = true;
  walk.stage->Found(std::move(lists));
}

// An entry a walk found: kept as a list of `kind`, unless it is a folder.
void Keep(const platform::DirectoryEntry& entry, int kind, Walk& walk) {
  if (entry.kind == platform::EntryKind::kDirectory) return;
  const common::Lock lock(walk.mutex);
  walk.kinds[kind].names->push_back(entry.name);
  if (kind == 0) walk.found.NotifyAll();
}

// Both kinds in one walk: a large folder is read once, not once per kind.
// Where the walk breaks, the *.sha1 lists are listed again by a walk of
// their own, so that each kind is listed as a walk of its own would list
// it: the same lists, and the same boxes in the same order.
void ListBoth(Walk& walk, const std::function<bool()>& go_on) {
  platform::ErrorCode broken = 0;
  bool only_files = false;
  platform::ForEachEntryEndingWith(
      common::WideString(u".md5"), common::WideString(u".sha1"),
      [&](const platform::DirectoryEntry& entry) {
        Keep(entry, entry.other ? 1 : 0, walk);
        return go_on();
      },
      &broken, &only_files);
  {
    const common::Lock lock(walk.mutex);
    walk.only_files = only_files;
  }
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
            Keep(entry, 1, walk);
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
  run::Watch lists;
  const bool ran = common::RunOrOutOfMemory([&] {
    ListBoth(*walk, go_on);
    const common::Lock lock(walk->mutex);
    lists = FoundLists(*walk);
  });
  const common::Lock lock(walk->mutex);
  walk->out_of_memory = !ran;
  walk->done = true;
  Tell(*walk, std::move(lists));
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

bool Found::All(int kind, std::shared_ptr<const Names>* names) {
  common::Lock lock(walk_->mutex);
  // The walk tells its end; the stop's callback, a stop.
  while (!walk_->done && !stage_.Stopped()) walk_->found.Wait(lock);
  if (!walk_->done) return false;
  if (walk_->out_of_memory) throw std::bad_alloc();
  *names = walk_->kinds[kind].names;  // no longer changed
  return true;
}

bool Found::WhileWalking(std::size_t i, common::WideString* name) {
  common::Lock lock(walk_->mutex);
  for (;;) {
    if (walk_->done || stage_.Stopped()) return false;
    if (i < walk_->kinds[0].names->size()) {
      *name = (*walk_->kinds[0].names)[i];
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

platform::Listed Found::FolderListed() const {
  const common::Lock lock(walk_->mutex);
  return walk_->done && walk_->only_files ? platform::Listed::kFolderOfFiles
                                          : platform::Listed::kNothing;
}

platform::ErrorCode Found::Broken(int kind) const {
  const common::Lock lock(walk_->mutex);
  return walk_->kinds[kind].broken;
}

}  // namespace verify
