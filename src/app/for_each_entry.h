#pragma once

#include <functional>

#include "common/wide_string.h"
#include "platform/desktop.h"
#include "platform/directory.h"

// Hands every entry of the current directory that matches `pattern` to
// `visit`, in the platform's order, until `visit` returns false. Nothing
// matching is silent. A broken enumeration is shown and ends the walk, so no
// entry is visited twice. Returns true only when the walk reached the end.
bool ForEachEntry(
    platform::Desktop& desktop, const WideString& pattern,
    const std::function<bool(const platform::DirectoryEntry&)>& visit);
