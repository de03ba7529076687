#include "TerminalProgress.h"

#include <unistd.h>

#include <algorithm>
#include <string>

namespace clipwren::cut {

namespace {
constexpr int kBarWidth = 40;

const char* phaseName(TerminalProgress::Phase phase) {
    switch (phase) {
        case TerminalProgress::Phase::Loading: return "Loading";
        case TerminalProgress::Phase::Cropping: return "Cropping";
        case TerminalProgress::Phase::Exporting: return "Exporting";
    }
    return "";
}
}  // namespace

TerminalProgress::TerminalProgress(std::FILE* stream)
    : stream_(stream), enabled_(stream && isatty(fileno(stream)) == 1) {}

void TerminalProgress::show(Phase phase, int percent) {
    percent = std::clamp(percent, 0, 100);
    if (!enabled_ || (int(phase) == lastPhase_ && percent == lastPercent_)) return;
    lastPhase_ = int(phase);
    lastPercent_ = percent;
    const int filled = percent * kBarWidth / 100;
    const std::string bar = std::string(size_t(filled), '#') + std::string(size_t(kBarWidth - filled), '-');
    std::fprintf(stream_, "\r%-10s [%s] %3d%%", phaseName(phase), bar.c_str(), percent);
    std::fflush(stream_);
    drawn_ = true;
}

void TerminalProgress::finish() {
    if (!drawn_) return;
    std::fputc('\n', stream_);
    std::fflush(stream_);
    drawn_ = false;
}

}  // namespace clipwren::cut
