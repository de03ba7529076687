#pragma once
// The cut itself, in a module of its own that clipwren-cut loads only when it has a
// cut to make: the decoder and encoder libraries it needs take longer to load than
// everything else the program does for --help, --version or a wrong command line.
#include "CutCommandLine.h"

namespace clipwren::cut {

// Runs one cut on the application's event loop. Returns the program's exit status:
// 0 when the file was written, 1 when the cut failed, 128 + the signal's number when
// interrupted.
using RunCutFunction = int (*)(const CutRequest& request);

}  // namespace clipwren::cut

// The module's one entry point, looked up by this name.
extern "C" int clipwren_run_cut(const clipwren::cut::CutRequest& request);
