#include "CutEngine.h"

#include <cstdarg>
#include <cstdio>
#include <deque>
#include <string>

extern "C" {
#include <libavutil/log.h>
}

#include "CutCommand.h"
#include "components/soundeditor/CutPipeline.h"
#include "components/soundeditor/FfmpegCodecs.h"

namespace {

// FFmpeg's warnings and errors of a run without --verbose, held back: an encoder's notes
// and a decoder's complaints about damage (which the cut's own warning sums up) are no
// news when the file was written; they help when the cut fails. A damaged file gives
// one line per bad packet, so only the last ones are kept. Each cut's thread holds its own.
class HeldFfmpegLog {
public:
    static void install() { av_log_set_callback(&HeldFfmpegLog::hold); }
    static QStringList take() {
        QStringList taken;
        for (const std::string& line : lines_) taken << QString::fromStdString(line).chopped(line.ends_with('\n') ? 1 : 0);
        lines_.clear();
        return taken;
    }
    static void clear() { lines_.clear(); }

private:
    static constexpr size_t kKeptLines = 20;
    static void hold(void* context, int level, const char* format, va_list args) {
        if (level > AV_LOG_WARNING) return;
        char line[1024];
        int printPrefix = 1;
        av_log_format_line2(context, level, format, args, line, sizeof line, &printPrefix);
        lines_.emplace_back(line);
        if (lines_.size() > kKeptLines) lines_.pop_front();
    }
    static inline thread_local std::deque<std::string> lines_;
};

}  // namespace

extern "C" void clipwren_make_cut(const clipwren::cut::CutRequest& request, const std::atomic<int>* interruptSignal,
                                  std::FILE* progress, clipwren::cut::CutOutcome* outcome) {
    // With --verbose FFmpeg says all it has to say as it goes, a run of identical lines
    // once with its count. Every cut of a run has the same --verbose.
    static const bool logSet = [&request] {
        av_log_set_flags(AV_LOG_SKIP_REPEATED);
        if (!request.verbose) HeldFfmpegLog::install();
        return true;
    }();
    (void)logSet;
    static const clipwren::soundeditor::FfmpegCodecs codecs;
    HeldFfmpegLog::clear();
    clipwren::soundeditor::CutPipeline pipeline(&codecs);
    *outcome = *clipwren::cut::makeCut(request, pipeline, *interruptSignal, progress);
    if (outcome->status != 0) outcome->libraryLines = HeldFfmpegLog::take();
}
