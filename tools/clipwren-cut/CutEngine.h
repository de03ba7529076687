#pragma once
// The cut with the codecs, in a module of its own that clipwren-cut loads only when a cut
// needs them: the decoder and encoder libraries take longer to load than everything else
// the program does for --help, --version, a wrong command line or an MP3 copy.
#include "CutCommandLine.h"

namespace clipwren::cut {

// Runs one cut (runCutCommand) and returns the program's exit status.
using RunCutFunction = int (*)(const CutRequest& request, const int* interruptSignal);

}  // namespace clipwren::cut

// The module's one entry point, looked up by this name.
extern "C" int clipwren_run_cut(const clipwren::cut::CutRequest& request, const int* interruptSignal);
