#pragma once
// A cut asked for on the command line or in a batch, made by the cut pipeline, and what
// to tell of its outcome. It is made first without the codecs, which makes an MP3 copy
// without loading the audio libraries; what needs them the cut module makes again with them.
#include "CutCommandLine.h"

#include <QStringList>
#include <atomic>
#include <cstdio>
#include <optional>

namespace clipwren::soundeditor {
class CutPipeline;
}

namespace clipwren::cut {

struct CutOutcome {
    // The program's exit status for this cut: 0 when the file was written, 1 when the cut
    // failed, 128 + the signal's number when interrupted.
    int status = 0;
    // The audio libraries' own messages about a failed cut, as they gave them.
    QStringList libraryLines;
    // Warnings and the failure, for standard error after the program's name.
    QStringList messages;
};

// Makes the cut with `pipeline`, with or without its codecs. A non-zero interruptSignal
// stops it; on the program's main thread the events that may set it are handled while
// the cut runs. A progress bar goes to `progress` when that is a terminal (none for
// null). nullopt when the cut needs the codecs and the pipeline has none: then nothing
// was written.
std::optional<CutOutcome> makeCut(const CutRequest& request, soundeditor::CutPipeline& pipeline,
                                  const std::atomic<int>& interruptSignal, std::FILE* progress);

// Prints the outcome on standard error and returns its status.
int tell(const CutOutcome& outcome);

}  // namespace clipwren::cut
