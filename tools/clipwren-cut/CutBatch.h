#pragma once
// `clipwren-cut --list FILE` and `--cue SHEET`: many cuts, several at once, each on a
// thread of its own through the same pipeline call a single cut makes. One progress line
// on standard error, when that is a terminal; a failing cut is told with its line or track.
#include "CutCommand.h"
#include "CutEngine.h"
#include "CutList.h"

#include <functional>

namespace clipwren::cut {

// The cut module's entry, loaded at the first call (from any thread, once); null and
// *error set when it cannot be loaded.
using CutEngineLoader = std::function<MakeCutFunction(QString* error)>;

// Returns the program's exit status: 0 when every cut was written, 1 when any failed
// (or the list or sheet could not be read), 128 + the signal's number when interrupted.
int runBatch(const BatchRequest& request, const CutEngineLoader& loadEngine);

}  // namespace clipwren::cut
