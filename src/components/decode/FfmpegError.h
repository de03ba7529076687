#pragma once
// FFmpeg's own text for its error codes, for the log.
#include <QString>

extern "C" {
#include <libavutil/error.h>
}

namespace clipwren::decode {

inline QString ffmpegErrorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return QString::fromUtf8(text);
}

// Passes an FFmpeg result through, logging it with its text when it is a failure.
int logIfFailed(int result, const char* what);

}  // namespace clipwren::decode
