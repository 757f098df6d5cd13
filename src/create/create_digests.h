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
