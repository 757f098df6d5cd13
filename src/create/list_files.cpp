#include "create/list_files.h"

#include <algorithm>
#include <cstddef>
#include <string>

#include "common/unicode.h"
#include "desktop/show_system_error.h"
#include "platform/for_each_entry.h"
#include "platform/temporary_file.h"

namespace create {
namespace {

// A name the listing gave twice: Wine hands Unix names of bytes that are no
// UTF-8 ("a\xff.txt", "a\xfe.txt") over as one name ("a\ufffd.txt"), and
// one digest file would be written for two files. Null where every name is
// one file's.
const common::WideString* RepeatedName(const std::vector<File>& files) {
  std::vector<std::size_t> order(files.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return files[a].name.View() < files[b].name.View();
  });
  for (std::size_t i = 1; i < order.size(); ++i) {
    if (files[order[i]].name.View() == files[order[i - 1]].name.View()) {
      return &files[order[i]].name;
    }
  }
  return nullptr;
}

}  // namespace

// The files to hash, taken before any digest file is written: a directory
// kept sorted can yield entries created while it is read, and a.txt,
// a.txt.md5, a.txt.md5.md5, ... would chain without end. Returns false when
// the enumeration did not start, broke off before its end or was stopped.
bool ListFiles(desktop::Desktop& desktop, const common::WideString& extension,
               run::Stage& stage, std::vector<File>* files) {
  const std::u16string suffix = u"." + std::u16string(extension.View());
  platform::ErrorCode broken = 0;
  const bool listed_all = platform::ForEachEntry(
      common::WideString(u"*.*"),
      [&](const platform::DirectoryEntry& entry) {
        // A digest file on its way to its name is nobody's data; one that
        // a killed run left goes where that is safe. A user's file of that
        // name is hashed as any other.
        const bool stray = platform::IsTemporaryName(entry.name.View()) &&
                           platform::RemoveStray(entry.name);
        if (!stray && entry.kind == platform::EntryKind::kFile) {
          files->push_back({entry.name,
                            entry.link || common::EndsWithFoldingAscii(
                                              entry.name.View(), suffix),
                            entry.link});
          stage.listed.store(files->size());
        }
        // A cancel ends the listing: nothing is written.
        return !stage.Stopped();
      },
      &broken);
  if (broken != 0) desktop::ShowSystemError(desktop, broken);
  // Nothing is written where two files would share a digest file.
  const common::WideString* repeated =
      listed_all ? RepeatedName(*files) : nullptr;
  if (repeated != nullptr) {
    desktop::ShowSystemError(desktop, platform::kErrorFileExists, *repeated);
    files->clear();
    return false;
  }
  return listed_all;
}

}  // namespace create
