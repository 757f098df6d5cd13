#pragma once

#include "desktop/desktop.h"
#include "platform/last_error.h"

namespace desktop {

// Shows the platform's text for `code` in an error box with the default
// caption; shows nothing when the platform has no text for it.
void ShowSystemError(desktop::Desktop& desktop, platform::ErrorCode code);

// The same for the file `name` stands for: "<name> - <text>", as a report's
// line reads.
void ShowSystemError(desktop::Desktop& desktop, platform::ErrorCode code,
                     const common::WideString& name);

}  // namespace desktop
