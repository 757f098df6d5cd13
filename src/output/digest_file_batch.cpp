#include "output/digest_file_batch.h"

#include <algorithm>

#include "common/unicode.h"
#include "platform/last_error.h"

namespace output {
namespace {

// FNV-1a over the name with ASCII letters folded, as Holds matches names.
std::size_t FoldedHash(std::u16string_view name) {
  std::uint64_t hash = 14695981039346656037ULL;
  for (const char16_t c : name) {
    hash = (hash ^ static_cast<std::uint64_t>(common::FoldAscii(c))) *
           1099511628211ULL;
  }
  return static_cast<std::size_t>(hash);
}

}  // namespace

DigestFileBatch::DigestFileBatch()
    : capacity_(std::min(kMostStaged, platform::TemporaryFilesAtOnce())) {}

bool DigestFileBatch::Create(ReplacementFile& file,
                             const common::WideString& name) {
  if (file.Create(name, facts_)) return true;
  // The staged files hold the descriptors: put in place, they free them.
  if (staged_.empty() ||
      !platform::IsOutOfHandles(platform::GetLastErrorCode())) {
    return false;
  }
  return Commit() && file.Create(name, facts_);
}

bool DigestFileBatch::Stage(const common::WideString& name,
                            std::string_view data) {
  // The name is checked as a single pass would find it: with what was
  // staged for it, or for a name that may be the same file, in place.
  if (Holds(name) && !Commit()) return false;
  auto file = std::make_unique<ReplacementFile>();
  if (!Create(*file, name)) return false;
  if (file->InPlace()) return WriteInPlace(*file, data);
  if (!file->Write(data)) {
    file->Discard();
    return false;
  }
  staged_.push_back({std::move(file), std::string(data)});
  by_name_.emplace(FoldedHash(name.View()), staged_.size() - 1);
  // A named temporary file waits for no other: a kill would leave a batch
  // of them.
  if (staged_.back().file->Lingers() || staged_.size() >= capacity_) {
    return Commit();
  }
  return true;
}

// A file written in place goes after every file staged before it, as one
// pass would write them; where one of those fails, it is not written.
bool DigestFileBatch::WriteInPlace(ReplacementFile& file,
                                   std::string_view data) {
  if (!Commit() || !file.WriteInPlace(data)) return false;
  ++committed_;
  return true;
}

bool DigestFileBatch::Holds(const common::WideString& name) const {
  const auto [first, last] = by_name_.equal_range(FoldedHash(name.View()));
  for (auto at = first; at != last; ++at) {
    const std::u16string_view staged = staged_[at->second].file->Name().View();
    if (staged.size() == name.Length() &&
        common::EndsWithFoldingAscii(staged, name.View())) {
      return true;
    }
  }
  return false;
}

bool DigestFileBatch::Staged(const common::WideString& name,
                             std::string_view* data) const {
  const auto [first, last] = by_name_.equal_range(FoldedHash(name.View()));
  std::size_t found = staged_.size();
  for (auto at = first; at != last; ++at) {
    if (staged_[at->second].file->Name() == name &&
        (found == staged_.size() || at->second > found)) {
      found = at->second;
    }
  }
  if (found == staged_.size()) return false;
  *data = staged_[found].data;
  return true;
}

bool DigestFileBatch::Commit() {
  if (staged_.empty()) return true;
  // One file's own flush is the cheapest; a batch takes one flush of the
  // file system where one reaches the disk, else each file's own.
  bool each = staged_.size() == 1;
  bool ok = each || staged_.front().file->FlushFileSystem();
  if (!ok && platform::GetLastErrorCode() == platform::kErrorNotSupported) {
    ok = each = true;
  }
  for (std::size_t i = 0; ok && i < staged_.size(); ++i) {
    ReplacementFile& file = *staged_[i].file;
    ok = (!each || file.Flush()) && file.Commit(facts_, staged_[i].data);
    if (ok) ++committed_;
    if (ok && renamed_.IsEmpty()) renamed_ = file.Name();
  }
  // What was not put in place is dropped; the first failure's code stays.
  // What new files get in the folder is learned again for the next batch.
  const platform::PreserveLastError keep;
  Drop();
  facts_.made = 0;
  return ok;
}

bool DigestFileBatch::Flush() {
  return renamed_.IsEmpty() || platform::FlushFolderOf(renamed_);
}

}  // namespace output
