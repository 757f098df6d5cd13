#pragma once

#include <cstddef>

#include "common/wide_string.h"
#include "desktop/desktop.h"
#include "platform/last_error.h"

// A verification's report as the run leaves it, and the box that ends it.
namespace verify {

// The report so far, as the pass leaves it.
struct Reported {
  common::WideString text;
  std::size_t checked = 0;  // records reported, in list order
  bool failed = false;
  bool hash_failed = false;  // no report: the error alone is shown
  platform::ErrorCode error = 0;
};

// Shows the report of a run of `count` records: the error alone where a
// hash failed; else the lines, the cancel line where fewer were checked or
// the lists' reading was cancelled (`unread`), and the caption, as an
// error where a line or a list (`listed_clean` false) failed.
void ShowReport(desktop::Desktop& desktop, Reported reported, std::size_t count,
                bool unread, bool listed_clean);

}  // namespace verify
