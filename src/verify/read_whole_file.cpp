#include "verify/read_whole_file.h"

#include <cstdint>
#include <new>

#include "platform/file.h"
#include "platform/last_error.h"

namespace {

// The most one digest file may hold: what a single 32-bit read can take.
// A larger file is refused rather than read in part.
constexpr std::uint64_t kMaxContent = 0xFFFFFFFEu;

}  // namespace

bool ReadWholeFile(const WideString& name, FileContent* content) {
  platform::InputFile file;
  if (!file.Open(name)) return false;
  std::uint64_t size = 0;
  if (!file.GetSize(&size)) return false;
  if (size > kMaxContent) {
    platform::SetLastErrorCode(platform::kErrorFileTooLarge);
    return false;
  }
  std::unique_ptr<char[]> bytes(new (std::nothrow) char[size + 1]);
  if (!bytes) {
    platform::SetLastErrorCode(platform::kErrorNotEnoughMemory);
    return false;
  }
  std::uint64_t done = 0;
  while (done < size) {
    std::uint32_t read = 0;
    if (!file.Read(bytes.get() + done, static_cast<std::uint32_t>(size - done),
                   &read)) {
      return false;
    }
    if (read == 0) break;  // the file shrank since it was sized
    done += read;
  }
  bytes[done] = '\0';
  content->bytes = std::move(bytes);
  content->size = static_cast<std::size_t>(done);
  return true;
}
