#pragma once
// Shared pieces of the player tests: a started player on recording outputs, fixture
// files, and waiting on the event loop.
#include "components/player/SoundPlayer.h"
#include "support/SoundOutputFake.h"

#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <vector>

namespace playertest {

constexpr int kRate = 48000;  // the recording output's rate: no resampling between file and output

// Runs the event loop until done() holds or timeoutMs passes; returns done().
bool waitFor(const std::function<bool()>& done, int timeoutMs = 15000);
// Runs the event loop for a while.
void spin(int ms);

// A started player over a scratch folder, its sound recorded (the first recordFrames frames).
struct PlayerFixture {
    explicit PlayerFixture(int64_t recordFrames = 0);
    QString path(const QString& name) const { return dir.filePath(name); }
    // Stereo 16-bit WAV at kRate: a quiet tone with full-scale clicks at the given frames.
    QString clickWav(const QString& name, double seconds, const std::vector<int64_t>& clickFrames);
    QTemporaryDir dir;
    testsupport::RecordingOutputs sound;  // before the player: it outlives the output threads
    std::unique_ptr<clipwren::SoundPlayer> player;
};

}  // namespace playertest
