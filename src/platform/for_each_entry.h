#pragma once

#include <functional>

#include "common/wide_string.h"
#include "platform/directory.h"
#include "platform/last_error.h"

namespace platform {

// Hands every entry of the current directory that matches `pattern` to
// `visit`, in the platform's order, until `visit` returns false. Returns true
// only when the walk reached the end. A broken enumeration ends the walk, so
// no entry is visited twice, and leaves its code in *broken for the caller to
// show; *broken is 0 when nothing matched or `visit` stopped the walk, and
// holds the code where the folder could not be opened for want of handles.
bool ForEachEntry(const common::WideString& pattern,
                  const std::function<bool(const DirectoryEntry&)>& visit,
                  ErrorCode* broken);
// The same over the entries whose names end with `ending` or `other`, in
// one walk (DirectoryScan::FirstEndingWith). *only_files, where given, is
// true where the walk reached the end of a folder that held only ordinary
// files and folders (DirectoryScan::OnlyFilesAndFolders).
bool ForEachEntryEndingWith(
    const common::WideString& ending, const common::WideString& other,
    const std::function<bool(const DirectoryEntry&)>& visit, ErrorCode* broken,
    bool* only_files = nullptr);

}  // namespace platform
