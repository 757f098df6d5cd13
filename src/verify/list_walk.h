#pragma once

#include <memory>
#include <thread>
#include <vector>

#include "common/stop.h"
#include "common/wide_string.h"
#include "pipeline/threads.h"
#include "platform/file.h"
#include "platform/last_error.h"
#include "run/stage.h"

namespace verify {

struct Walk;

// The folder's digest files, *.md5 and *.sha1, as the folder names them,
// found by one walk: on a thread of its own where more than one file is
// hashed at once, so that a walk stuck in the folder holds up no cancel
// (it may outlive the scan then, holding only what it shares with it);
// else on the caller's. Tells `stage` the lists found once the walk is
// over. Threads: the caller's, but for the walk.
class Found {
 public:
  Found(const pipeline::Threads& threads, run::Stage& stage);
  ~Found();
  Found(const Found&) = delete;
  Found& operator=(const Found&) = delete;

  // Every list of `kind` (0: *.md5, 1: *.sha1) once the walk is over;
  // false once the stage stops first. Throws std::bad_alloc where the walk
  // found no memory.
  bool All(int kind,
           std::shared_ptr<const std::vector<common::WideString>>* names);
  // *.md5 list `i` while the walk goes on, as soon as it is found; false
  // once the walk is over, or the stage stops, first.
  bool WhileWalking(std::size_t i, common::WideString* name);
  // Waits for the walk to end, letting its descriptor go: true where it was
  // still going on a thread, false once the stage stops.
  bool WaitForWalk();
  // What the walk tells of the folder's names (platform::Listed), once it
  // is over; kNothing before.
  platform::Listed FolderListed() const;
  // Why the listing of `kind` ended early.
  platform::ErrorCode Broken(int kind) const;

 private:
  const std::shared_ptr<Walk> walk_;
  run::Stage& stage_;
  // Dies before the walk it wakes.
  common::StopCallback wake_;
  std::thread thread_;
};

}  // namespace verify
