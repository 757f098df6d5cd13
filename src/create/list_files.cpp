#include "create/list_files.h"

#include <string>

#include "common/unicode.h"
#include "desktop/show_system_error.h"
#include "platform/for_each_entry.h"
#include "platform/temporary_file.h"

namespace create {

// The files to hash, taken before any digest file is written: a directory
// kept sorted can yield entries created while it is read, and a.txt,
// a.txt.md5, a.txt.md5.md5, ... would chain without end. Returns false when
// the enumeration did not start, broke off before its end or was stopped.
bool ListFiles(platform::Desktop& desktop, const WideString& extension,
               run::Stage& stage, std::vector<File>* files) {
  const std::u16string suffix = u"." + std::u16string(extension.View());
  platform::ErrorCode broken = 0;
  const bool listed_all = platform::ForEachEntry(
      WideString(u"*.*"),
      [&](const platform::DirectoryEntry& entry) {
        // A digest file on its way to its name is nobody's data; one that
        // a killed run left goes where that is safe. A user's file of that
        // name is hashed as any other.
        const bool stray = platform::IsTemporaryName(entry.name.View()) &&
                           platform::RemoveStray(entry.name);
        if (!stray && entry.kind == platform::EntryKind::kFile) {
          files->push_back(
              {entry.name,
               entry.link || EndsWithFoldingAscii(entry.name.View(), suffix),
               entry.link});
          stage.listed.store(files->size());
        }
        // A cancel ends the listing: nothing is written.
        return !stage.Stopped();
      },
      &broken);
  if (broken != 0) ShowSystemError(desktop, broken);
  return listed_all;
}

}  // namespace create
