#pragma once
// Opening a decoder can take a while: finding the exact length decodes the tail of the
// file, or all of it when the timestamps cannot place the end (an hour of ADPCM WAV
// takes over a second). A caller on the window's thread opens through this, so the
// window keeps painting and its timers keep running meanwhile.
#include "components/decode/AudioDecoder.h"

namespace clipwren::decode {

// AudioDecoder::open() on a worker thread. The calling thread runs its event loop
// until the open has finished, handling every event but user input, which waits until
// the call has returned: nothing the user does can start in the middle of it.
// Called outside a running event loop, it simply opens on the calling thread.
Result<std::unique_ptr<AudioDecoder>> openInBackground(const QString& path, int outputRate, int outputChannels);

}  // namespace clipwren::decode
