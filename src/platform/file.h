#pragma once

#include <cstdint>

#include "common/wide_string.h"
#include "platform/worker_context.h"

namespace platform {

// Threads: any number of files may be open and used at once, each by one
// thread at a time with that thread's context.

// A file opened for sequential reading with read sharing. Only ordinary disk
// files open: directories, devices, pipes and sockets are refused, since
// reading them could block or never end.
class InputFile {
 public:
  InputFile() = default;
  ~InputFile() { Close(); }
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // The context keeps what the next open can reuse.
  bool Open(const WideString& name, WorkerContext& context);
  // The file's size when it was opened.
  std::uint64_t SizeAtOpen() const { return size_at_open_; }
  // Whether the file opened under `name` is that entry's own, not a file a
  // link leads to that the directory listing could not tell (a Unix link
  // under Wine). Where the listing tells every link, always true.
  bool UnderOwnName(const WideString& name) const;
  // Reads up to `size` bytes; *read is 0 at the end of the file.
  bool Read(void* buffer, std::uint32_t size, std::uint32_t* read);
  // Keeps the last error.
  void Close();

 private:
  std::intptr_t handle_ = -1;
  std::uint64_t size_at_open_ = 0;
};

// A file created for writing with no sharing, replacing any file of the name.
class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  bool Create(const WideString& name);
  bool Write(const void* data, std::uint32_t size, std::uint32_t* written);
  // Reports a failure of the final flush, which some file systems only
  // detect at close.
  bool Close();
  // Closes and removes the file after a failed write, so that no partial
  // digest file is left; a name that is not an ordinary file (a device, a
  // link) is left alone. Keeps the last error.
  void Discard();

 private:
  std::intptr_t handle_ = -1;
  WideString name_;
};

}  // namespace platform
