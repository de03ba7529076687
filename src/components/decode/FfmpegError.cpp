#include "components/decode/FfmpegError.h"

#include <QtGlobal>

namespace clipwren::decode {

int logIfFailed(int result, const char* what) {
    if (result < 0) qWarning("%s: %s", what, qPrintable(ffmpegErrorText(result)));
    return result;
}

}  // namespace clipwren::decode
