#pragma once

#include "common/algorithm_id.h"
#include "common/wide_string.h"
#include "desktop/desktop.h"
#include "digest/digest_parser.h"

// Parses every file of the current directory that matches `pattern` into
// the parser's list, as records of `algorithm`. A malformed file is shown by
// name and the scan goes on; an unreadable one is shown and ends the scan.
// Returns false where any box was shown.
bool ScanDigestFiles(platform::Desktop& desktop, const WideString& pattern,
                     AlgorithmId algorithm, DigestParser& parser);
