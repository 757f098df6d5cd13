#pragma once

#include "desktop/desktop.h"
#include "hash/crypt_provider.h"
#include "run/settings.h"

namespace verify {

// Checks every record of the current directory's "*.md5" and "*.sha1" files
// and shows one report box. Records are checked on the settings' threads
// (by default one per CPU); the report is that of one pass whatever the
// number. A run still hashing 2 s after it began shows its progress; its
// Cancel ends the report with the records left unchecked, never as a
// success. Returns 0.
int VerifyDigests(desktop::Desktop& desktop, hash::CryptProvider& provider,
                  const run::Settings& settings = run::Settings());

}  // namespace verify
