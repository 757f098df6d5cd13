#include "output/replacement_file.h"

#include "platform/last_error.h"

namespace output {
namespace {

// The one loop over temporary names: the next number each time, so that a
// batch of files named at once never tries the same name twice, and at most
// kNameTries of them, so that a folder full of such names ends the run
// rather than the loop.
template <typename TryName>
bool FirstFreeName(std::uint32_t* next, TryName try_name) {
  for (std::uint32_t tries = 0; tries < ReplacementFile::kNameTries; ++tries) {
    if (try_name((*next)++)) return true;
    if (platform::GetLastErrorCode() != platform::kErrorFileExists) {
      return false;
    }
  }
  return false;
}

}  // namespace

bool ReplacementFile::Create(const WideString& name,
                             platform::TemporaryFacts& facts,
                             std::uint32_t* next) {
  Discard();
  name_ = name;
  bool in_place = false;
  if (!platform::CanReplace(name, &in_place)) return false;
  if (file_.CreateUnnamed(name, facts)) return true;
  if (platform::GetLastErrorCode() != platform::kErrorNotSupported) {
    return false;
  }
  return FirstFreeName(
      next, [&](std::uint32_t n) { return file_.CreateNamed(name, n, facts); });
}

bool ReplacementFile::Write(std::string_view data) {
  const auto size = static_cast<std::uint32_t>(data.size());
  std::uint32_t written = 0;
  if (!file_.Write(data.data(), size, &written)) return false;
  if (written == size) return true;
  platform::SetLastErrorCode(platform::kErrorDiskFull);  // short, yet "done"
  return false;
}

// Between Keep and the rename the file has a name a kill would leave: the
// two calls follow each other with nothing between them.
bool ReplacementFile::Commit(platform::TemporaryFacts& facts,
                             std::uint32_t* next) {
  const bool kept = FirstFreeName(
      next, [&](std::uint32_t n) { return file_.Keep(n, facts); });
  if (!kept || !file_.RenameOver(name_)) {
    file_.Remove();
    return false;
  }
  file_.Close();
  return true;
}

}  // namespace output
