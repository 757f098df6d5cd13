#pragma once

#include "desktop/desktop.h"
#include "digest/digest_parser.h"
#include "pipeline/threads.h"
#include "platform/file.h"
#include "run/stage.h"

namespace verify {

// Parses every *.md5 file of the current directory, then every *.sha1 one,
// into the parser's list, as records of their algorithm, telling `stage`
// how far it is; a stop of the stage ends the reading between pieces. A
// malformed file is shown by name and the scan goes on; an unreadable one
// is shown and ends its kind's scan. Returns false where any box was shown.
// An open that finds no descriptor free, after the scan let its own go, is
// shown and ends the whole scan, setting *out_of_handles: the lists found
// are not all there are. *listed: what the walk told of the folder.
// Where `threads` hash more than one file at once, the folder is listed on
// a thread of its own (a listing stuck in the folder may outlive the call,
// holding only what it shares with it), and the lists are read ahead on
// the workers, as files are hashed: their records, boxes and counts are
// those of one thread reading them in turn.
bool ScanDigestFiles(desktop::Desktop& desktop, digest::DigestParser& parser,
                     run::Stage& stage, const pipeline::Threads& threads,
                     bool* out_of_handles, platform::Listed* listed);

}  // namespace verify
