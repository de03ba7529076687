#pragma once
// A one-line progress bar on standard error, drawn only when that is a terminal so
// that logs and pipes get nothing but the final messages.
#include <cstdio>

#include "components/soundeditor/CutPipeline.h"

namespace clipwren::cut {

class TerminalProgress {
public:
    using Phase = soundeditor::CutPhase;
    // Draws nothing for a null stream.
    explicit TerminalProgress(std::FILE* stream);
    void show(Phase phase, int percent);
    // Ends the bar's line so that a following message starts on a fresh one.
    void finish();

private:
    std::FILE* stream_;
    bool enabled_;
    bool drawn_ = false;
    int lastPhase_ = -1;
    int lastPercent_ = -1;
};

}  // namespace clipwren::cut
