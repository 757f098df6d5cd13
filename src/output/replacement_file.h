#pragma once

#include <cstdint>
#include <string_view>

#include "common/wide_string.h"
#include "platform/temporary_file.h"

namespace output {

// One file replaced whole: its name checked, a temporary file beside it
// written, then put in place of the name in one step, so that a kill at any
// moment leaves the name as it was or with the whole new file. What is
// flushed, and when, is the caller's (DigestFileBatch).
// Where a new file could not take what users set on the old one, or would
// be refused, the old file is written where it is instead (InPlace).
// Threads: one thread at a time.
class ReplacementFile {
 public:
  // How many temporary names are tried before giving up with
  // kErrorFileExists.
  static constexpr std::uint32_t kNameTries = 100;

  ReplacementFile() = default;
  ReplacementFile(const ReplacementFile&) = delete;
  ReplacementFile& operator=(const ReplacementFile&) = delete;

  // Fails with the platform's code where the name could not be written as
  // it stands (platform::CanReplace), else makes the temporary file: unnamed
  // where the file system allows, else under a free random temporary name,
  // with what users set on the file it replaces. Opens the
  // file there instead where it is to be written in place, also when making
  // the temporary or carrying onto it was refused.
  bool Create(const common::WideString& name, platform::TemporaryFacts& facts);
  // Whether Create chose to write the file where it is: WriteInPlace, not
  // Write and Commit.
  bool InPlace() const { return in_place_; }
  // The whole of `data` to the temporary; a short write fails with
  // kErrorDiskFull.
  bool Write(std::string_view data);
  // The whole of `data` over the file where it is, on the disk when this
  // returns true. A failure may leave the file partly written.
  bool WriteInPlace(std::string_view data);
  bool Lingers() const { return file_.Lingers(); }
  bool Flush() { return file_.Flush(); }
  bool FlushFileSystem() { return file_.FlushFileSystem(); }
  // Puts what was written in place of the name. A failure leaves the name
  // as it was and removes the temporary file; once the name is the new
  // file, nothing that follows makes it a failure. Where putting it in place
  // is refused and the old file opens for writing, `data` (what was written)
  // is written over it in place instead (WriteInPlace).
  bool Commit(platform::TemporaryFacts& facts, std::string_view data);
  // Drops the temporary file; the name stays as it was. Keeps the last
  // error.
  void Discard() {
    file_.Remove();
    in_place_file_.Close();
    in_place_ = false;
  }
  const common::WideString& Name() const { return name_; }

 private:
  bool InPlaceInstead(bool made);
  bool OpenInPlaceIfRefused();

  platform::TemporaryFile file_;
  platform::InPlaceFile in_place_file_;
  bool in_place_ = false;
  common::WideString name_;
};

}  // namespace output
