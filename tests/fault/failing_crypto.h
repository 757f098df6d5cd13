#pragma once

#include <atomic>

#include "platform/last_error.h"

// A provider that fails on demand, linked in place of the real one. Its
// digests are all zero bytes; the tests here only look at failures.
namespace failing_crypto {

struct Plan {
  bool fail_acquire = false;
  int creates_before_failure = -1;  // -1: never fails
  bool fail_value = false;
  int blocked_data_call = -1;  // this HashData call (from 0) waits at the gate
};

// Where the blocked call waits, as a read that does not answer would, until
// the test opens it. Any thread.
struct Gate {
  std::atomic<int> data_calls{0};
  std::atomic<bool> entered{false};
  std::atomic<bool> open{false};
};

extern Plan plan;
extern Gate gate;
constexpr platform::ErrorCode kCode = 5;  // an error every platform can name

}  // namespace failing_crypto
