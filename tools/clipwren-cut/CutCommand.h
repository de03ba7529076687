#pragma once
// A cut asked for on the command line, made by the cut pipeline, and its outcome told on
// standard error. The program runs it first without the codecs, which makes an MP3 copy
// without loading the audio libraries; what needs them the cut module runs again with them.
#include "CutCommandLine.h"

#include <optional>

namespace clipwren::soundeditor {
class Codecs;
}

namespace clipwren::cut {

// The program's exit status: 0 when the file was written, 1 when the cut failed, 128 + the
// signal's number when *interruptSignal became non-zero (it is read while events are
// handled during the cut). nullopt when the cut needs the codecs and none were given:
// then nothing was written or said. beforeFailure, when given, runs before a failure is told.
std::optional<int> runCutCommand(const CutRequest& request, const soundeditor::Codecs* codecs,
                                 const int* interruptSignal, void (*beforeFailure)() = nullptr);

}  // namespace clipwren::cut
