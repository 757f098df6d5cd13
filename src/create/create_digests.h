#pragma once

#include "common/algorithm_id.h"
#include "common/wide_string.h"
#include "desktop/desktop.h"
#include "hash/crypt_provider.h"
#include "run/settings.h"

namespace create {

// Writes "<name>.<extension>" holding one record beside every file of the
// current directory, stopping at the first failure with the platform's
// message; tells the user when every file was done. Files are hashed on the
// settings' threads (by default one per CPU, one on a disk that seeks); the
// boxes and digest files are those of one pass whatever the number. A run
// still hashing 2 s after it began shows its progress; its Cancel stops the
// run where it stands, keeps the digest files written so far and says how
// many were not. Returns 0.
int CreateDigests(desktop::Desktop& desktop, hash::CryptProvider& provider,
                  common::AlgorithmId algorithm,
                  const common::WideString& extension,
                  const run::Settings& settings = run::Settings());

}  // namespace create
