#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/wide_string.h"
#include "output/replacement_file.h"
#include "platform/temporary_file.h"

namespace output {

// The digest files of one folder, each replaced whole (ReplacementFile), in
// batches: the temporary files of a batch are written, their data reaches
// the disk with one flush, and only then are they put in place in the order
// they were staged. Whatever stops the machine, each name holds its old
// file or the whole new one, never a name whose data was not yet on disk;
// except a file written in place (ReplacementFile::InPlace), which is
// written and flushed in its turn, after the files staged before it are
// put in place, and which a crash while it is written may leave partial.
// Threads: one thread at a time.
class DigestFileBatch {
 public:
  // Temporary files held open at once, at most: fewer where the process
  // may hold few (platform::TemporaryFilesAtOnce). Each batch costs a flush
  // of the file system, which on ext4 costs more than the writing: batches
  // of 1,024 took a fifth longer.
  static constexpr std::size_t kMostStaged = 2048;

  DigestFileBatch();
  // Drops what was staged and not committed.
  ~DigestFileBatch() = default;
  DigestFileBatch(const DigestFileBatch&) = delete;
  DigestFileBatch& operator=(const DigestFileBatch&) = delete;

  // Writes `data` for `name` to a temporary file, put in place by a later
  // Commit (or by this call, when the batch is full, or at once where the
  // temporary file has a name a kill would leave); or, where the file there
  // is to be written in place, commits what was staged and writes it. False
  // with the platform's code when the name cannot take it, or when a commit
  // this call made failed: nothing of this file is left, and the files staged
  // before it wait for Commit.
  bool Stage(const common::WideString& name, std::string_view data);
  // How many files a batch holds before it commits by itself.
  std::size_t Capacity() const { return capacity_; }
  // Whether a file staged and not yet committed is for `name` (ASCII
  // letters without regard to case, as Windows names match).
  bool Holds(const common::WideString& name) const;
  // What was staged last for exactly `name` and is not yet committed, in
  // *data (valid until the next call); false when nothing is.
  bool Staged(const common::WideString& name, std::string_view* data) const;
  // Puts the staged files in place in their order after their data is on
  // the disk, stopping at the first that fails: its code is left, and the
  // files after it are dropped.
  bool Commit();
  // Drops what was staged and not committed: those names keep what they
  // held.
  void Drop() {
    staged_.clear();
    by_name_.clear();
  }
  // Files staged and not yet committed; files put in place so far, in all.
  std::size_t Size() const { return staged_.size(); }
  std::size_t Committed() const { return committed_; }
  // Once the last Commit is done: the renames are on the disk too, on every
  // file system. True at once when nothing was put in place.
  bool Flush();

 private:
  bool Create(ReplacementFile& file, const common::WideString& name);
  bool WriteInPlace(ReplacementFile& file, std::string_view data);

  const std::size_t capacity_;
  struct Pending {
    std::unique_ptr<ReplacementFile> file;
    std::string data;
  };

  std::vector<Pending> staged_;
  // Each staged file's place in staged_, by a hash of its name with ASCII
  // letters folded: the pass asks for every file it reads, and a scan of a
  // full batch each time would cost more than the writing.
  std::unordered_multimap<std::size_t, std::size_t> by_name_;
  platform::TemporaryFacts facts_;
  std::size_t committed_ = 0;
  common::WideString renamed_;  // the first name put in place, for its folder
};

}  // namespace output
