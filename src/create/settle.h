#pragma once

#include <memory>

#include "create/creation.h"
#include "pipeline/threads.h"

namespace create {

// After a cancel that left the pass inside a call: the box tells what is on
// disk, and the desktop's thread makes no file-system call, which a stuck
// file system would hold. The staged files are put in place on a thread
// that owns the creation with the pass, given a short deadline; files still
// being put in place then are told as not written, never as written.
// Threads: the desktop's, once the pass is left.
Written Abandon(const std::shared_ptr<Creation>& creation,
                const pipeline::Threads& threads);

}  // namespace create
