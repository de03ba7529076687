#include "components/player/SoundPlayer.h"

#include "components/decode/AudioDecoder.h"
#include "components/errors/modSoundErrDesc.h"
#include "components/player/AudioOutput.h"
#include "components/player/BlockRing.h"
#include "components/player/DecodeWorker.h"
#include "components/player/OutputTap.h"
#include "components/player/PlaybackClock.h"

#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>

namespace clipwren {

using namespace player;

namespace {

constexpr int kLevelIntervalMs = 40;
constexpr float kMaxTempoChange = 60.0f;

int64_t steadyNowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void raiseTo(std::atomic<int32_t>& peak, int32_t level) {
    int32_t seen = peak.load(std::memory_order_relaxed);
    while (level > seen && !peak.compare_exchange_weak(seen, level, std::memory_order_relaxed)) {
    }
}

}  // namespace

// Threads: the UI thread calls the API; one decode thread per loaded file fills the
// ring; the output thread runs render(). The UI thread starts "runs" (a start
// position and an end, tagged with a new serial); render() drops audio of older runs,
// so a seek never plays stale sound.
struct SoundPlayer::Engine final : AudioSource {
    explicit Engine(SoundPlayer& owner) : owner(owner) {
        levelTimer.setInterval(kLevelIntervalMs);
        QObject::connect(&levelTimer, &QTimer::timeout, &owner, [this] { onLevelTick(); });
    }
    ~Engine() override {
        output.reset();  // no callback runs past this point
        worker.reset();
    }

    // ---- output thread ----
    void render(float* out, int frames) override;

    // ---- UI thread ----
    bool loaded() const { return worker != nullptr; }
    bool runEnded() const {
        return endedSerial.load(std::memory_order_acquire) == serial.load(std::memory_order_relaxed);
    }
    int32_t currentState() const {
        const int32_t s = state.load(std::memory_order_relaxed);
        return s == Playing && runEnded() ? Stopped : s;
    }
    void startRun(int64_t startFrame, int64_t endFrame);
    // Settles an end reached by the output: stopped, back at the start.
    void settleEnd();
    void stopAndRewind();
    void unload();
    int32_t load(const QString& path);
    // The source frame being heard in the current run: its start until its first audio is heard.
    int64_t heardFrame() const;
    int32_t positionMs() const;
    void emitLevels(int16_t left, int16_t right) {
        if (levelEvents) emit owner.LevelsChanged(0, left, right);
    }
    // The 0, 0 event after a stop or pause reaches the window through its event loop.
    void postSilentLevels() {
        QMetaObject::invokeMethod(&owner, [this] { emitLevels(0, 0); }, Qt::QueuedConnection);
    }
    void onLevelTick();

    SoundPlayer& owner;
    bool started = false;
    int device = 0;
    bool levelEvents = true;

    // Shared with the output and decode threads.
    BlockRing ring;
    PlaybackClock clock;
    std::atomic<int32_t> state{Stopped};
    std::atomic<uint32_t> serial{0};
    std::atomic<uint32_t> endedSerial{~0u};
    std::atomic<int32_t> peakLeft{0};
    std::atomic<int32_t> peakRight{0};
    std::atomic<float> tempoChange{0.0f};
    std::atomic<int> outputLatency{0};
    std::atomic<int> outputRate{0};

    // Output thread only.
    int blockOffset = 0;

    // UI thread only.
    QString fileName;
    int rate = 0;
    int64_t lengthFrames = 0;
    int32_t lengthMs = 0;
    int64_t runStart = 0;      // where the current run starts: the position until it is heard
    int64_t runEnd = 0;
    bool rangePlaying = false;  // the current run ends before the sound does
    QTimer levelTimer;

    std::unique_ptr<DecodeWorker> worker;
    std::unique_ptr<AudioOutput> output;  // last: closed first
};

void SoundPlayer::Engine::render(float* out, int frames) {
    const int64_t now = steadyNowNs();
    const uint32_t current = serial.load(std::memory_order_acquire);
    const bool playing = state.load(std::memory_order_acquire) == Playing;
    int written = 0;
    ClockReading heard;
    heard.serial = current;
    float peakL = 0;
    float peakR = 0;

    while (AudioBlock* block = ring.readSlot()) {
        if (block->serial != current) {  // left over from before a seek, stop or load
            ring.release();
            blockOffset = 0;
            continue;
        }
        if (!playing || written == frames) break;
        const int n = std::min(frames - written, block->frames - blockOffset);
        if (n > 0) {
            if (written == 0) {
                heard.sourceFrame = block->sourceFrame + blockOffset * block->speed;
                heard.speed = block->speed;
            }
            const float* from = block->samples + size_t(blockOffset) * kOutputChannels;
            std::memcpy(out + size_t(written) * kOutputChannels, from, size_t(n) * kOutputChannels * sizeof(float));
            for (int i = 0; i < n; ++i) {
                peakL = std::max(peakL, std::fabs(from[i * 2]));
                peakR = std::max(peakR, std::fabs(from[i * 2 + 1]));
            }
            written += n;
            blockOffset += n;
            heard.limitFrame = block->sourceFrame + blockOffset * block->speed;
        }
        if (blockOffset >= block->frames) {
            const bool last = block->endOfSound;
            ring.release();
            blockOffset = 0;
            if (last) {
                endedSerial.store(current, std::memory_order_release);
                break;
            }
        }
    }
    std::fill(out + size_t(written) * kOutputChannels, out + size_t(frames) * kOutputChannels, 0.0f);

    if (written > 0) {
        const int outRate = outputRate.load(std::memory_order_relaxed);
        heard.heardAtNs = now + int64_t(outputLatency.load(std::memory_order_relaxed)) * 1'000'000'000 / outRate;
        clock.publish(heard);
        raiseTo(peakLeft, int32_t(std::lround(std::min(peakL, 1.0f) * 32767.0f)));
        raiseTo(peakRight, int32_t(std::lround(std::min(peakR, 1.0f) * 32767.0f)));
        if (OutputTap* tap = outputTap()) tap->onAudio(out, written, outRate);
    }
}

void SoundPlayer::Engine::startRun(int64_t startFrame, int64_t endFrame) {
    runStart = std::clamp<int64_t>(startFrame, 0, lengthFrames);
    runEnd = std::clamp<int64_t>(endFrame, runStart, lengthFrames);
    rangePlaying = runEnd < lengthFrames;
    const uint32_t next = serial.load(std::memory_order_relaxed) + 1;
    serial.store(next, std::memory_order_release);
    worker->startRun(next, runStart, runEnd);
}

void SoundPlayer::Engine::stopAndRewind() {
    // The stored state, not currentState(): a run the output has just ended was still heard.
    const bool wasActive = state.load(std::memory_order_relaxed) != Stopped;
    state.store(Stopped, std::memory_order_release);
    levelTimer.stop();
    if (loaded()) startRun(0, lengthFrames);
    if (wasActive) postSilentLevels();
}

void SoundPlayer::Engine::settleEnd() {
    if (state.load(std::memory_order_relaxed) == Playing && runEnded()) stopAndRewind();
}

void SoundPlayer::Engine::onLevelTick() {
    if (runEnded()) {
        settleEnd();
        return;
    }
    const int32_t left = peakLeft.exchange(0, std::memory_order_relaxed);
    const int32_t right = peakRight.exchange(0, std::memory_order_relaxed);
    emitLevels(int16_t(left), int16_t(right));
}

void SoundPlayer::Engine::unload() {
    stopAndRewind();
    worker.reset();
    // Whatever the old file left in the ring belongs to an older run and is dropped.
    serial.store(serial.load(std::memory_order_relaxed) + 1, std::memory_order_release);
    fileName.clear();
    rate = 0;
    lengthFrames = 0;
    lengthMs = 0;
    runStart = runEnd = 0;
    rangePlaying = false;
}

int32_t SoundPlayer::Engine::load(const QString& path) {
    unload();
    int32_t error = err::Ok;
    auto decoder = decode::AudioDecoder::open(path, output->rate(), kOutputChannels, &error);
    if (!decoder) return error < 0 ? error : err::InvalidSoundFile;
    if (decoder->lengthFrames() <= 0) return err::InvalidSoundFile;
    rate = decoder->outputRate();
    lengthFrames = decoder->lengthFrames();
    lengthMs = decoder->lengthMs();
    fileName = path;
    worker = std::make_unique<DecodeWorker>(std::move(decoder), ring, tempoChange);
    startRun(0, lengthFrames);  // the start is decoded ahead, so Play sounds at once
    return err::Ok;
}

int64_t SoundPlayer::Engine::heardFrame() const {
    const int32_t s = state.load(std::memory_order_relaxed);
    const ClockReading heard = clock.read();
    double frame = double(runStart);
    if (s != Stopped && heard.valid && heard.serial == serial.load(std::memory_order_relaxed)) {
        const double elapsed = double(steadyNowNs() - heard.heardAtNs) / 1e9;
        const double heardSoFar = std::max(double(runStart), heard.limitFrame);
        frame = std::clamp(heard.sourceFrame + elapsed * rate * heard.speed, double(runStart), heardSoFar);
    }
    return std::llround(frame);
}

int32_t SoundPlayer::Engine::positionMs() const {
    if (!loaded() || runEnded()) return 0;
    return int32_t(decode::framesToMs(heardFrame(), rate));
}

SoundPlayer::SoundPlayer(QObject* parent) : QObject(parent), engine_(std::make_unique<Engine>(*this)) {}
SoundPlayer::~SoundPlayer() = default;

int32_t SoundPlayer::StartUp(int16_t players, QWidget*, int16_t, int16_t, int16_t, int16_t) {
    if (players != 1) return err::ParameterOutOfRange;
    if (engine_->started) return err::AlreadyInitialized;
    engine_->output = AudioOutput::open(*engine_, engine_->device);
    engine_->outputRate.store(engine_->output->rate());
    engine_->outputLatency.store(engine_->output->latencyFrames());
    engine_->started = true;
    return err::Ok;
}

PlayerOptionSet& SoundPlayer::PlayerOptions() { return options_; }
LevelMeterSet& SoundPlayer::LevelMeters() { return meters_; }

int32_t PlayerOptionSet::OutputDevice(int16_t player, int32_t device) {
    if (player != 0) return err::InvalidPlayer;
    if (device < 0 || device > player::AudioOutput::deviceCount()) return err::ParameterOutOfRange;
    SoundPlayer::Engine& e = *player_.engine_;
    if (device == e.device) return err::Ok;
    e.device = device;
    if (!e.started) return err::Ok;
    // A new device may run at another rate: the loaded file is opened again for it.
    const QString reload = e.fileName;
    e.unload();
    e.output.reset();
    e.output = player::AudioOutput::open(e, device);
    e.outputRate.store(e.output->rate());
    e.outputLatency.store(e.output->latencyFrames());
    return reload.isEmpty() ? err::Ok : e.load(reload);
}

int32_t PlayerOptionSet::LevelEvents(int16_t player, int32_t enabled) {
    if (player != 0) return err::InvalidPlayer;
    player_.engine_->levelEvents = enabled != 0;
    return err::Ok;
}

int32_t SoundPlayer::OpenFile(int16_t player, const QString& path) {
    if (player != 0) return err::InvalidPlayer;
    if (!engine_->started) return err::NotInitialized;
    // Loading allocates the decoder, the stretcher and a thread; a failure there must
    // not reach the window's event handler, and leaves the player empty like any other.
    try {
        return engine_->load(path);
    } catch (...) {
        engine_->unload();
        return err::NotEnoughMemory;
    }
}

int32_t SoundPlayer::Length(int16_t player) const {
    if (player != 0) return err::InvalidPlayer;
    return engine_->lengthMs;
}

QString SoundPlayer::FileName(int16_t player) const { return player == 0 ? engine_->fileName : QString(); }

int32_t SoundPlayer::State(int16_t player) const {
    if (player != 0) return err::InvalidPlayer;
    return engine_->currentState();
}

int32_t SoundPlayer::Position(int16_t player) const {
    if (player != 0) return err::InvalidPlayer;
    return engine_->positionMs();
}

int32_t SoundPlayer::Play(int16_t player) {
    if (player != 0) return err::InvalidPlayer;
    Engine& e = *engine_;
    if (!e.loaded()) return err::NoSoundLoaded;
    e.settleEnd();
    if (e.currentState() == Playing) return err::Ok;
    // Paused or stopped, the run from where playing goes on has been decoded ahead.
    e.state.store(Playing, std::memory_order_release);
    e.levelTimer.start();
    return err::Ok;
}

int32_t SoundPlayer::Pause(int16_t player) {
    if (player != 0) return err::InvalidPlayer;
    Engine& e = *engine_;
    if (!e.loaded()) return err::NoSoundLoaded;
    e.settleEnd();
    if (e.currentState() != Playing) return err::Ok;
    // The output still holds up to a period past the position of this moment. Pausing
    // there and resuming from there with a new run keeps the position fixed while paused
    // and makes the resume seamless; the short stretch the device plays out is heard twice.
    e.state.store(Paused, std::memory_order_release);
    // Should the output end the run meanwhile, the pause lands on its end.
    e.startRun(e.heardFrame(), e.runEnd);
    e.levelTimer.stop();
    e.postSilentLevels();
    return err::Ok;
}

int32_t SoundPlayer::Stop(int16_t player) {
    if (player != 0) return err::InvalidPlayer;
    if (!engine_->loaded()) return err::NoSoundLoaded;
    engine_->settleEnd();
    engine_->stopAndRewind();
    return err::Ok;
}

int32_t SoundPlayer::PlayRange(int16_t player, int32_t beginMs, int32_t endMs) {
    if (player != 0) return err::InvalidPlayer;
    Engine& e = *engine_;
    if (!e.loaded()) return err::NoSoundLoaded;
    e.settleEnd();
    const int64_t begin = decode::msToFrames(std::max(beginMs, 0), e.rate);
    const int64_t end = std::min(decode::msToFrames(endMs, e.rate), e.lengthFrames);
    if (end <= begin) {
        e.stopAndRewind();
        return err::InvalidPosition;
    }
    e.startRun(begin, end);
    e.state.store(Playing, std::memory_order_release);
    e.levelTimer.start();
    return err::Ok;
}

int32_t SoundPlayer::Seek(int16_t player, int32_t positionMs) {
    if (player != 0) return err::InvalidPlayer;
    Engine& e = *engine_;
    if (!e.loaded()) return err::NoSoundLoaded;
    e.settleEnd();
    const int64_t target = std::clamp<int64_t>(decode::msToFrames(positionMs, e.rate), 0, e.lengthFrames);
    // A marked piece keeps its end while the seek stays inside it; elsewhere the sound plays to its end.
    const bool keepRange = e.currentState() != Stopped && e.rangePlaying && target < e.runEnd;
    e.startRun(target, keepRange ? e.runEnd : e.lengthFrames);
    return err::Ok;
}

int32_t SoundPlayer::SetTempo(int16_t player, float changePercent) {
    if (player != 0) return err::InvalidPlayer;
    if (!(changePercent >= -kMaxTempoChange && changePercent <= kMaxTempoChange)) return err::ParameterOutOfRange;
    engine_->tempoChange.store(changePercent, std::memory_order_relaxed);
    return err::Ok;
}

}  // namespace clipwren
