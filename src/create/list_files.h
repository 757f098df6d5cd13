#pragma once

#include <vector>

#include "common/wide_string.h"
#include "desktop/desktop.h"
#include "run/stage.h"

// The folder's files as creation lists them, on the run's thread.
namespace create {

struct File {
  common::WideString name;
  // Hashed in turn, never ahead: what the run may write before its turn (a
  // digest file, or a link that may lead to one) must be read as a single
  // pass reads it, and not held open against the writer.
  bool in_turn = false;
  bool link = false;
};

// The files to hash, taken before any digest file is written: a directory
// kept sorted can yield entries created while it is read, and a.txt,
// a.txt.md5, a.txt.md5.md5, ... would chain without end. Returns false when
// the enumeration did not start, broke off before its end or was stopped.
bool ListFiles(desktop::Desktop& desktop, const common::WideString& extension,
               run::Stage& stage, std::vector<File>* files);

}  // namespace create
