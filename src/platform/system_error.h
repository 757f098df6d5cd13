#pragma once

#include "common/wide_string.h"
#include "platform/last_error.h"

namespace platform {

// Threads: may be called from any thread.

// The platform's own description of an error code; false when it has none.
bool SystemErrorText(ErrorCode code, common::WideString* text);

}  // namespace platform
