#pragma once
// The cut with the codecs, in a module of its own that clipwren-cut loads only when a cut
// needs them: the decoder and encoder libraries take longer to load than everything else
// the program does for --help, --version, a wrong command line or an MP3 copy.
#include "CutCommand.h"

namespace clipwren::cut {

// Makes one cut with the codecs (makeCut) into *outcome; several may run at once on
// several threads.
using MakeCutFunction = void (*)(const CutRequest& request, const std::atomic<int>* interruptSignal,
                                 std::FILE* progress, CutOutcome* outcome);

}  // namespace clipwren::cut

// The module's one entry point, looked up by this name.
extern "C" void clipwren_make_cut(const clipwren::cut::CutRequest& request, const std::atomic<int>* interruptSignal,
                                  std::FILE* progress, clipwren::cut::CutOutcome* outcome);
