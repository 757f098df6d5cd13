#include "output/replacement_file.h"

#include "platform/last_error.h"

namespace output {
namespace {

// The one loop over temporary names: a random number each time, so that
// names planted in a shared folder are not the ones tried (nor are those of
// a run beside this one), and at most kNameTries of them, so that a folder
// that answers "exists" to every name ends the run rather than the loop.
template <typename TryName>
bool FirstFreeName(TryName try_name) {
  for (std::uint32_t tries = 0; tries < ReplacementFile::kNameTries; ++tries) {
    std::uint64_t n = 0;
    if (!platform::RandomNumber(&n)) return false;
    if (try_name(n)) return true;
    if (platform::GetLastErrorCode() != platform::kErrorFileExists) {
      return false;
    }
  }
  return false;
}

}  // namespace

bool ReplacementFile::Create(const common::WideString& name,
                             platform::TemporaryFacts& facts) {
  Discard();
  name_ = name;
  bool in_place = false;
  platform::OldFile old;
  if (!platform::CanReplace(name, &old, &in_place)) return false;
  if (in_place) {
    old.Close();
    return in_place_ = in_place_file_.Open(name);
  }
  bool made = file_.CreateUnnamed(name, facts);
  if (!made && platform::GetLastErrorCode() == platform::kErrorNotSupported) {
    made = FirstFreeName(
        [&](std::uint64_t n) { return file_.CreateNamed(name, n, facts); });
  }
  if (made && file_.TakeFrom(name, old)) return true;
  old.Close();
  return InPlaceInstead(made);
}

// After making the temporary, or carrying onto it, failed: where that was
// refused and a file at the name opens for writing, it is written there.
// Where only carrying was refused and the file cannot be written in place
// (a link), the temporary goes on with what could be carried.
bool ReplacementFile::InPlaceInstead(bool made) {
  if (OpenInPlaceIfRefused()) {
    file_.Remove();
    return in_place_ = true;
  }
  if (made && platform::IsRefused(platform::GetLastErrorCode())) return true;
  file_.Remove();
  return false;
}

bool ReplacementFile::Write(std::string_view data) {
  const auto size = static_cast<std::uint32_t>(data.size());
  std::uint32_t written = 0;
  if (!file_.Write(data.data(), size, &written)) return false;
  if (written == size) return true;
  platform::SetLastErrorCode(platform::kErrorDiskFull);  // short, yet "done"
  return false;
}

// Flushed at once: such files are rare, and "done" means on the disk.
bool ReplacementFile::WriteInPlace(std::string_view data) {
  const bool ok = in_place_file_.WriteWhole(
                      data.data(), static_cast<std::uint32_t>(data.size())) &&
                  in_place_file_.Flush();
  in_place_file_.Close();
  return ok;
}

// Between Keep and the rename the file has a name a kill would leave: the
// two calls follow each other with nothing between them. Where the folder
// refuses either, the old file may still take the record in place.
bool ReplacementFile::Commit(platform::TemporaryFacts& facts,
                             std::string_view data) {
  const bool kept =
      FirstFreeName([&](std::uint64_t n) { return file_.Keep(n, facts); });
  if (kept && file_.RenameOver(name_)) {
    file_.Close();
    return true;
  }
  file_.Remove();
  return OpenInPlaceIfRefused() && WriteInPlace(data);
}

// Where the last call was refused and the file at the name opens for
// writing: true. Otherwise the refusal's (or other) code stays the last.
bool ReplacementFile::OpenInPlaceIfRefused() {
  const platform::ErrorCode code = platform::GetLastErrorCode();
  if (platform::IsRefused(code) && in_place_file_.Open(name_)) return true;
  platform::SetLastErrorCode(code);
  return false;
}

}  // namespace output
