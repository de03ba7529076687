#include "components/player/ThreadPriority.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

namespace clipwren::player {

namespace {
// Real-time priorities below the sound server's own threads (PulseAudio takes 5),
// above every ordinary thread; the output before the decoder.
constexpr int kOutputRealtime = 3;
constexpr int kDecodeRealtime = 2;
// Otherwise nice levels: the output at the one PulseAudio gives itself.
constexpr int kOutputNice = -11;
constexpr int kDecodeNice = -5;
}  // namespace

void raiseThreadPriority(ThreadRole role) {
    sched_param param{};
    param.sched_priority = role == ThreadRole::Output ? kOutputRealtime : kDecodeRealtime;
    if (pthread_setschedparam(pthread_self(), SCHED_RR, &param) == 0) return;
    setpriority(PRIO_PROCESS, id_t(gettid()), role == ThreadRole::Output ? kOutputNice : kDecodeNice);
}

}  // namespace clipwren::player
