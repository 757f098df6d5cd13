#pragma once

#include "hash/crypt_provider.h"
#include "platform/desktop.h"

// Checks every record of the current directory's "*.md5" and "*.sha1" files
// and shows one report box. Returns 0.
int VerifyDigests(platform::Desktop& desktop, CryptProvider& provider);
