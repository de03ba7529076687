#pragma once
// Shared pieces of the player tests: a started player, fixture files, waiting on
// the event loop, and a tap that records what the output is handed.
#include "components/player/OutputTap.h"
#include "components/player/SoundPlayer.h"

#include <QTemporaryDir>
#include <atomic>
#include <functional>
#include <memory>
#include <vector>

namespace playertest {

constexpr int kRate = 48000;  // the silent output's rate: no resampling between file and output

// Runs the event loop until done() holds or timeoutMs passes; returns done().
bool waitFor(const std::function<bool()>& done, int timeoutMs = 15000);
// Runs the event loop for a while.
void spin(int ms);

// A started player over a scratch folder.
struct PlayerFixture {
    PlayerFixture();
    QString path(const QString& name) const { return dir.filePath(name); }
    // Stereo 16-bit WAV at kRate: a quiet tone with full-scale clicks at the given frames.
    QString clickWav(const QString& name, double seconds, const std::vector<int64_t>& clickFrames);
    QTemporaryDir dir;
    std::unique_ptr<clipwren::SoundPlayer> player;
};

// Records the first `capacity` frames handed to the output.
class RecordingTap final : public clipwren::player::OutputTap {
public:
    explicit RecordingTap(int64_t capacityFrames);
    ~RecordingTap() override;
    void onAudio(const float* samples, int frames, int rate) override;
    int64_t frames() const { return frames_.load(std::memory_order_acquire); }
    // Frames ever handed over, also past the capacity.
    int64_t handedFrames() const { return handed_.load(std::memory_order_acquire); }
    float sample(int64_t frame, int channel) const { return samples_[size_t(frame * 2 + channel)]; }
    // First recorded frame from `from` on whose magnitude reaches threshold, or -1.
    int64_t firstAbove(float threshold, int64_t from = 0) const;

private:
    std::vector<float> samples_;
    std::atomic<int64_t> frames_{0};
    std::atomic<int64_t> handed_{0};
};

}  // namespace playertest
