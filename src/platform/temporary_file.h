#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/wide_string.h"

namespace platform {

// The steps a file is replaced whole with, each one system call or close to
// it; the order they are taken in, the names tried and the flushes are the
// core's (output/replacement_file.h).
// Threads: each temporary file is used by one thread at a time; several may
// be used on several threads at once.

// The file at a name about to be replaced, as CanReplace found it, held
// open where a backend can keep what it learned there: carrying what users
// set on it (TemporaryFile::TakeFrom) then needs no second look at the
// name. Empty (no handle) where nothing is held.
// Threads: one thread at a time.
class OldFile {
 public:
  OldFile() = default;
  ~OldFile() { Close(); }
  OldFile(const OldFile&) = delete;
  OldFile& operator=(const OldFile&) = delete;
  // Lets go of the file, keeping the last error.
  void Close();

 private:
  friend bool CanReplace(const common::WideString& name, OldFile* old,
                         bool* in_place);
  friend class TemporaryFile;

  std::intptr_t handle_ = -1;
  // Where the file found could not be held: TakeFrom's failure, with this
  // code, as if it had looked itself. 0 where there is none.
  std::uint32_t error_ = 0;
  // What a backend learned of the file without holding it: set (found_)
  // where that was all there was to carry.
  bool found_ = false;
  std::uint32_t owner_ = 0;
  std::uint32_t group_ = 0;
  std::uint32_t mode_ = 0;
};

// Whether the name can take a new file as it stands: a file there must open
// for writing (read-only, busy and someone else's files fail here with the
// platform's code), under its own name, and be an ordinary file; a link
// (replaced, never written through) or no file passes too. Sets *in_place
// where the file there is to be written where it is (InPlaceFile), because
// a new file could not take what its users set on it or would be refused.
// *old may be left holding the file found, for TakeFrom.
bool CanReplace(const common::WideString& name, OldFile* old, bool* in_place);

// What making one temporary file taught about the file system, kept by
// whoever makes several so that the next does not ask again. Each backend
// reads its fields its own way: 0 is not known yet.
struct TemporaryFacts {
  int unnamed = 0;   // whether the file system makes unnamed files
  int on_close = 0;  // whether a mark "delete on close" can be cleared
  int by_proc = 0;   // whether a descriptor is linked through /proc
  // What a new file gets here by itself, learned from the first temporary
  // file of a batch, so that carrying skips what is already so: `made` is
  // 0 until the rest holds, and is cleared to learn again (a folder changed
  // meanwhile is met by the next batch, as a file changed meanwhile is).
  int made = 0;
  std::uint32_t process = 0;  // this process's id
  std::uint32_t self = 0;     // whom it runs as
  std::uint32_t owner = 0;    // the new file's owner, group and mode
  std::uint32_t group = 0;
  std::uint32_t mode = 0;
  int acl = 0;  // whether it comes with an ACL (the folder's default one)
};

// A file written beside the one it will replace, that no kill leaves
// behind until it is kept: unnamed (Linux O_TMPFILE), or named and deleted
// on close (Windows). Where neither is possible it has a name from the
// start, locked while it is open (flock; Windows: no sharing), and `Lingers`.
class TemporaryFile {
 public:
  TemporaryFile() = default;
  ~TemporaryFile() { Remove(); }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  // Makes an unnamed file in the folder of `beside`; fails with
  // kErrorNotSupported where the file system makes none.
  bool CreateUnnamed(const common::WideString& beside, TemporaryFacts& facts);
  // Makes it under the temporary name `n` (TemporaryName) in that folder, by
  // this process alone: kErrorFileExists when the name is taken.
  bool CreateNamed(const common::WideString& beside, std::uint64_t n,
                   TemporaryFacts& facts);
  // Takes what users set on the file now at `name`, if any, before it
  // replaces that file: Linux its mode, owner, group, ACL and user.* xattrs;
  // Windows its attributes, creation time and security descriptor.
  // Fails with a code IsRefused holds where that cannot be done faithfully
  // (the file is then written in place instead); what could be carried
  // stays carried, since where the old file cannot be written in place
  // (a link) this file still replaces it. `old` is what CanReplace found
  // at the name: where it holds the file, nothing else need be asked.
  bool TakeFrom(const common::WideString& name, const OldFile& old);
  bool Write(const void* data, std::uint32_t size, std::uint32_t* written);
  // This file's data and size on the disk.
  bool Flush();
  // Whatever is waiting on this file's file system reaches the disk, at one
  // go; kErrorNotSupported where no such flush is known to reach it (the
  // caller then flushes each file).
  bool FlushFileSystem();
  // Whether a kill now would leave the file under its temporary name.
  bool Lingers() const { return lingers_; }
  // Makes the file outlive its handle, under the temporary name `n`: an
  // unnamed file is linked (kErrorFileExists when the name is taken), a file
  // deleted on close is kept. The next call should be RenameOver.
  bool Keep(std::uint64_t n, TemporaryFacts& facts);
  // Puts the file in place of `name`, the one it was made beside, in one
  // step. Afterwards the handle only remains to be closed.
  bool RenameOver(const common::WideString& name);
  // Closes the handle, keeping the last error; any failure is ignored.
  void Close();
  // Removes the temporary name while it still names this file (a name of
  // that form is no one else's to delete), then closes. Keeps the last
  // error.
  void Remove();

 private:
  std::intptr_t handle_ = -1;
  std::string folder_;  // where the file is, where a backend needs it
  std::string named_;   // the temporary name, where the file has one
  // The name it replaces, encoded when the file is made, where a backend
  // needs it: nothing is allocated between Keep and RenameOver.
  std::string target_;
  TemporaryFacts made_;  // what the backend learned when making it
  bool lingers_ = false;
};

// An existing file written where it is, for names a replacement would
// change or be refused at: never created, never through a link, never a
// file with more than one link. A kill while it is written may leave it
// partly written: the one place where that can happen.
// Threads: one thread at a time.
class InPlaceFile {
 public:
  InPlaceFile() = default;
  ~InPlaceFile() { Close(); }
  InPlaceFile(const InPlaceFile&) = delete;
  InPlaceFile& operator=(const InPlaceFile&) = delete;

  // Opens `name` for writing: an ordinary file with one link, or fails with
  // the platform's code.
  bool Open(const common::WideString& name);
  // Writes all of `data` from the start of the file, then cuts the file to
  // that length; a short write fails with kErrorDiskFull.
  bool WriteWhole(const void* data, std::uint32_t size);
  // This file's data and size on the disk.
  bool Flush();
  // Closes the handle, keeping the last error.
  void Close();

 private:
  std::intptr_t handle_ = -1;
};

// Removes `name`, a temporary name a killed run left in the current folder
// (IsTemporaryName), only where it is certainly dead and certainly one: an
// ordinary file whose lock this process can take, on a local file system,
// holding what a temporary file can after a kill or a power cut (nothing,
// zeros, one record or its beginning). Quiet either way. Returns false
// where the file is not one this program could have left (another kind of
// file, or other data): it is then any other file.
bool RemoveStray(const common::WideString& name);

// The name a file is written under before it replaces its own:
// ".~digestbox-<process id>-<n>.tmp", n a RandomNumber, so that no one who
// may add files to the folder can take the names a run will try.
bool IsTemporaryName(std::u16string_view name);
std::string TemporaryName(std::uint32_t process, std::uint64_t n);  // ASCII

// Whether `data` is what a temporary file can hold after a kill or a power
// cut: nothing, zeros, or one record of the written form (lowercase digits,
// " *", a name, a line end) or a beginning of one. No record is longer than
// kMostTemporaryData bytes (a name of 255 UTF-16 units in a double-byte
// code page).
constexpr std::size_t kMostTemporaryData = 40 + 2 + 2 * 255 + 1;
bool CouldBeTemporaryData(std::string_view data);

// A number from the system's random source (Linux getrandom, Windows
// RtlGenRandom); fails with its code. Threads: any number at once.
bool RandomNumber(std::uint64_t* n);

// How many temporary files may be held open at once, leaving the process
// enough handles for everything else: half its open-file limit on Linux,
// whose soft limit is first raised toward the hard one where it is low.
std::size_t TemporaryFilesAtOnce();

// After a run's renames: whatever they did in the folder of `beside` is on
// the disk, on every file system (FUSE ones too).
bool FlushFolderOf(const common::WideString& beside);

}  // namespace platform
