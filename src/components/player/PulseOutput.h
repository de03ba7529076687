#pragma once
// Sound through a PulseAudio server, or PipeWire, which serves the same protocol:
// the output asks the server how long each period waits before it is heard, so the
// player's position is what the listener hears whatever the server's buffer, and it
// notices when the server goes away.
#include "components/player/AudioOutput.h"

#include <string>

namespace clipwren::player {

class PulseOutputFactory final : public AudioOutputFactory {
public:
    // server: a server address as libpulse takes it ("unix:/run/…/native"); empty for
    // the user's own, as the environment and client.conf name it.
    explicit PulseOutputFactory(std::string server = {});
    std::unique_ptr<AudioOutput> open(AudioSource& source, int device, int rate) override;
    int deviceCount() override;

private:
    std::string server_;
};

}  // namespace clipwren::player
