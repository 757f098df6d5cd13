#pragma once

#include "desktop/desktop.h"
#include "hash/crypt_provider.h"
#include "pipeline/threads.h"
#include "progress/clock.h"

// Checks every record of the current directory's "*.md5" and "*.sha1" files
// and shows one report box. Returns 0.
int VerifyDigests(platform::Desktop& desktop, CryptProvider& provider);
// The same on given hashing threads; the report is that of one pass
// whatever the number.
int VerifyDigests(platform::Desktop& desktop, CryptProvider& provider,
                  const pipeline::Threads& threads);
// The same with the run's times from `clock`. A run still hashing 2 s after
// it began shows its progress; its Cancel ends the report with the records
// left unchecked, as a failure.
int VerifyDigests(platform::Desktop& desktop, CryptProvider& provider,
                  const pipeline::Threads& threads, progress::Clock& clock);
