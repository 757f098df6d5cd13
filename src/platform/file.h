#pragma once

#include <cstdint>

#include "common/wide_string.h"

namespace platform {

// A file opened for sequential reading with read sharing. Only ordinary disk
// files open: directories, devices, pipes and sockets are refused, since
// reading them could block or never end.
class InputFile {
 public:
  InputFile() = default;
  ~InputFile() { Close(); }
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  bool Open(const WideString& name);
  // Reads up to `size` bytes; *read is 0 at the end of the file.
  bool Read(void* buffer, std::uint32_t size, std::uint32_t* read);
  // The next block of up to `size` bytes, front to back, for a reader that
  // only looks at it: read into `buffer`, or, where the backend reads large
  // files in chunks, a view into the chunk, valid until the next call. *read is
  // 0 at the end of the file; a file that shrank under the reader fails. Not to
  // be mixed with Read.
  bool ReadBlock(std::uint8_t* buffer, std::uint32_t size,
                 const std::uint8_t** block, std::uint32_t* read);
  // Keeps the last error.
  void Close();

 private:
  std::intptr_t handle_ = -1;
  // Room for a backend's own reading state (the POSIX backend's chunks),
  // held in the object so that no file costs an allocation.
  alignas(std::uint64_t) unsigned char backend_[48] = {};
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
