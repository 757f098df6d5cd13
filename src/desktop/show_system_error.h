#pragma once

#include "desktop/desktop.h"
#include "platform/last_error.h"

// Shows the platform's text for `code` in an error box with the default
// caption; shows nothing when the platform has no text for it.
void ShowSystemError(platform::Desktop& desktop, platform::ErrorCode code);

// The same for the file `name` stands for: "<name> - <text>", as a report's
// line reads.
void ShowSystemError(platform::Desktop& desktop, platform::ErrorCode code,
                     const WideString& name);
