#pragma once

#include <cstdint>
#include <string>

#include "common/algorithm_id.h"
#include "common/wide_string.h"

namespace digest {

// The extension of the digest files of an algorithm, without the dot.
common::WideString DigestExtension(common::AlgorithmId algorithm);

// "<name>.<extension>". Throws std::bad_alloc rather than ever giving an
// incomplete name.
common::WideString DigestFileName(const common::WideString& name,
                                  const common::WideString& extension);

// The whole content of a digest file: the digest in lowercase hex, " *", the
// name in the system ANSI code page and one line feed. Fails, leaving the
// reason as the last error, when the name cannot be converted or holds a
// line end, which would spread the record over two lines.
bool FormatDigestRecord(const std::uint8_t* digest, std::uint32_t size,
                        const common::WideString& name, std::string* record);

}  // namespace digest
