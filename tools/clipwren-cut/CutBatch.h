#pragma once
// `clipwren-cut --list FILE`: the cuts of a list, several at once. Each cut is this
// program run for that one cut, so it is made exactly as a cut named on the command
// line is, and one that fails or crashes leaves the others alone. One progress line
// on standard error, when that is a terminal; a failing cut is reported with its line.
#include "CutList.h"

#include <QStringList>
#include <vector>

namespace clipwren::cut {

// Returns the program's exit status: 0 when every cut was written, 1 when any failed
// (or the list could not be read), 128 + the signal's number when interrupted.
int runBatch(const BatchRequest& request);

}  // namespace clipwren::cut
