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
  // where the file system allows, else under the first free temporary name
  // from *next on.
  bool Create(const WideString& name, platform::TemporaryFacts& facts,
              std::uint32_t* next);
  // The whole of `data`; a short write fails with kErrorDiskFull.
  bool Write(std::string_view data);
  bool Lingers() const { return file_.Lingers(); }
  bool Flush() { return file_.Flush(); }
  bool FlushFileSystem() { return file_.FlushFileSystem(); }
  // Puts what was written in place of the name. A failure leaves the name
  // as it was and removes the temporary file; once the name is the new
  // file, nothing that follows makes it a failure.
  bool Commit(platform::TemporaryFacts& facts, std::uint32_t* next);
  // Drops the temporary file; the name stays as it was. Keeps the last
  // error.
  void Discard() { file_.Remove(); }
  const WideString& Name() const { return name_; }

 private:
  platform::TemporaryFile file_;
  WideString name_;
};

}  // namespace output
