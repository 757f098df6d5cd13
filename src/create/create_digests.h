#pragma once

#include "common/algorithm_id.h"
#include "common/wide_string.h"
#include "desktop/desktop.h"
#include "hash/crypt_provider.h"

// Writes "<name>.<extension>" holding one record beside every file of the
// current directory, stopping at the first failure with the platform's
// message; tells the user when every file was done. Returns 0.
int CreateDigests(platform::Desktop& desktop, CryptProvider& provider,
                  AlgorithmId algorithm, const WideString& extension);
// The same with a given number of hashing threads (the run above picks one
// per core, one on a disk that seeks); the files, boxes and digest files are
// those of one pass whatever the number.
int CreateDigests(platform::Desktop& desktop, CryptProvider& provider,
                  AlgorithmId algorithm, const WideString& extension,
                  unsigned workers);
