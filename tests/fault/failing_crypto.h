#pragma once

#include "platform/last_error.h"

// A provider that fails on demand, linked in place of the real one. Its
// digests are all zero bytes; the tests here only look at failures.
namespace failing_crypto {

struct Plan {
  bool fail_acquire = false;
  int creates_before_failure = -1;  // -1: never fails
  bool fail_value = false;
};

extern Plan plan;
constexpr platform::ErrorCode kCode = 5;  // an error every platform can name

}  // namespace failing_crypto
