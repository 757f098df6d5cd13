#pragma once

#include <cstdint>

#include "common/wide_string.h"
#include "platform/worker_context.h"

namespace platform {

// Threads: any number of files may be open and used at once, each by one
// thread at a time with that thread's context.

// A file's identity on its machine: the volume or device, and the file on it.
struct FileId {
  std::uint64_t volume = 0;
  std::uint64_t file = 0;
  bool operator==(const FileId& other) const {
    return volume == other.volume && file == other.file;
  }
};

// What the caller knows of a name before it is opened.
enum class Listed {
  kNothing,
  // The current folder was listed to its end and held only ordinary files
  // and folders (DirectoryScan::OnlyFilesAndFolders): a name in it is then
  // opened without its type asked first, since a link put there since fails
  // the open, a pipe is refused once open, and a device could only be made
  // there with privilege (mknod), as under a type asked first.
  kFolderOfFiles,
};

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
  bool Open(const common::WideString& name, WorkerContext& context,
            Listed listed = Listed::kNothing);
  // The file's size when it was opened.
  std::uint64_t SizeAtOpen() const { return size_at_open_; }
  // Which file it is: equal for two names of one file (a link, a hard
  // link), different for two files. Asked only where it is needed: on
  // Windows it queries the volume, which under Wine is a round trip to
  // another process. False where it cannot be had.
  bool Identity(FileId* identity) const;
  // Whether the file opened under `name` is that entry's own, not a file a
  // link leads to that the directory listing could not tell (a Unix link
  // under Wine). Where the listing tells every link, always true.
  bool UnderOwnName(const common::WideString& name) const;
  // Reads up to `size` bytes; *read is 0 at the end of the file.
  bool Read(void* buffer, std::uint32_t size, std::uint32_t* read);
  // Keeps the last error.
  void Close();

 private:
  std::intptr_t handle_ = -1;
  std::uint64_t size_at_open_ = 0;
  FileId identity_;
};

// Whether an ordinary file, not a folder, stands under `name`, whether or
// not it can be opened (locked, access denied). Network places and devices
// are never asked: false.
bool NamesFile(const common::WideString& name);

// The size of the ordinary file under `name`, from its metadata alone:
// nothing is opened, so no share a writer needs is taken. Names no open
// would take (network places, devices) are never asked: false, as for a
// name that holds no ordinary file.
bool SizeByName(const common::WideString& name, std::uint64_t* size);

// Raises the process's soft limit of open files toward its hard limit, up
// to `wanted`, and returns the soft limit now (Windows: handles are limited
// only by memory, and `wanted` is returned). Threads: once, at a run's start,
// before its threads.
std::size_t RaiseOpenFileLimit(std::size_t wanted);

}  // namespace platform
