#pragma once

#include "common/algorithm_id.h"
#include "common/wide_string.h"
#include "desktop/desktop.h"
#include "hash/crypt_provider.h"
#include "pipeline/threads.h"
#include "progress/clock.h"

// Writes "<name>.<extension>" holding one record beside every file of the
// current directory, stopping at the first failure with the platform's
// message; tells the user when every file was done. Returns 0.
int CreateDigests(platform::Desktop& desktop, CryptProvider& provider,
                  AlgorithmId algorithm, const WideString& extension);
// The same on given hashing threads (the run above takes one per CPU, one
// on a disk that seeks); the files, boxes and digest files are those of one
// pass whatever the number.
int CreateDigests(platform::Desktop& desktop, CryptProvider& provider,
                  AlgorithmId algorithm, const WideString& extension,
                  const pipeline::Threads& threads);
// The same with the run's times from `clock`. A run still hashing 2 s after
// it began shows its progress; its Cancel stops the run where it stands,
// with the digest files written so far, and no box.
int CreateDigests(platform::Desktop& desktop, CryptProvider& provider,
                  AlgorithmId algorithm, const WideString& extension,
                  const pipeline::Threads& threads, progress::Clock& clock);
