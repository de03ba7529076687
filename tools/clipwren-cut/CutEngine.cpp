#include "CutEngine.h"

#include <cstdarg>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>

extern "C" {
#include <libavutil/log.h>
}

#include "CutCommand.h"
#include "components/soundeditor/FfmpegCodecs.h"

namespace {

// FFmpeg's warnings and errors of a run without --verbose, held back: an encoder's notes
// and a decoder's complaints about damage (which the cut's own warning sums up) are no
// news when the file was written; they help when the cut fails. A damaged file gives
// one line per bad packet, so only the last ones are kept.
class HeldFfmpegLog {
public:
    static void install() { av_log_set_callback(&HeldFfmpegLog::hold); }
    static void print() {
        std::lock_guard lock(mutex_);
        for (const std::string& line : lines_) std::fputs(line.c_str(), stderr);
        lines_.clear();
    }

private:
    static constexpr size_t kKeptLines = 20;
    static void hold(void* context, int level, const char* format, va_list args) {
        if (level > AV_LOG_WARNING) return;
        char line[1024];
        int printPrefix = 1;
        av_log_format_line2(context, level, format, args, line, sizeof line, &printPrefix);
        std::lock_guard lock(mutex_);
        lines_.emplace_back(line);
        if (lines_.size() > kKeptLines) lines_.pop_front();
    }
    static inline std::mutex mutex_;
    static inline std::deque<std::string> lines_;
};

}  // namespace

extern "C" int clipwren_run_cut(const clipwren::cut::CutRequest& request, const int* interruptSignal) {
    // With --verbose FFmpeg says all it has to say as it goes, a run of identical lines
    // once with its count.
    av_log_set_flags(AV_LOG_SKIP_REPEATED);
    if (!request.verbose) HeldFfmpegLog::install();
    const clipwren::soundeditor::FfmpegCodecs codecs;
    return *clipwren::cut::runCutCommand(request, &codecs, interruptSignal, &HeldFfmpegLog::print);
}
