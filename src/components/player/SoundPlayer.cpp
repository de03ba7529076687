#include "components/player/SoundPlayer.h"

#include "components/decode/AudioDecoder.h"
#include "components/decode/OpenInBackground.h"
#include "components/errors/modSoundErrDesc.h"
#include "components/files/LocalFileName.h"
#include "components/player/AudioOutput.h"
#include "components/player/BlockRing.h"
#include "components/player/DecodeWorker.h"
#include "components/player/PlaybackClock.h"

#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>
#include <thread>

namespace clipwren {

using namespace player;

namespace {

constexpr int kLevelIntervalMs = 40;
// While playing silently for want of a device, how often it is tried again: soon enough
// that sound comes back within a moment of the server, seldom enough to cost nothing.
constexpr int kRetryIntervalMs = 1000;
constexpr float kMaxTempoChange = 60.0f;

int16_t levelOf(float peak) { return int16_t(std::lround(std::min(peak, 1.0f) * 32767.0f)); }

}  // namespace

// Threads: the UI thread calls the API; one decode thread per loaded file fills the
// ring; the output thread runs render(). The UI thread starts "runs" (a start
// position and an end, tagged with a new serial); render() drops audio of older
// serials, so a seek never plays stale sound. The output is told to play while the
// player plays and to drop what it has queued whenever a new run replaces what it
// holds. A tempo change while playing continues the run under a new serial: the
// decode-ahead made at the old tempo is dropped, what the output has queued is kept,
// and the new tempo follows on from the last frame handed to the output. The clock
// history is kept per run, so the position runs on across such a change.
struct SoundPlayer::Engine final : AudioSource {
    Engine(SoundPlayer& owner, AudioOutputFactory& outputs) : owner(owner), outputs(outputs) {
        levelTimer.setInterval(kLevelIntervalMs);
        QObject::connect(&levelTimer, &QTimer::timeout, &owner, [this] { onLevelTick(); });
        retryTimer.setInterval(kRetryIntervalMs);
        QObject::connect(&retryTimer, &QTimer::timeout, &owner, [this] {
            if (currentState() == Playing) retryDevice();
        });
    }
    ~Engine() override {
        if (retrying.joinable()) retrying.join();  // what it opened is dropped with its queued hand-over
        output.reset();  // no callback runs past this point
        worker.reset();
    }

    // ---- output thread ----
    int render(float* out, int frames, int64_t heardAtNs) override;

    // ---- UI thread ----
    bool loaded() const { return worker != nullptr; }
    uint32_t currentSerial() const { return uint32_t(runAndSerial.load(std::memory_order_relaxed)); }
    uint32_t currentRun() const { return uint32_t(runAndSerial.load(std::memory_order_relaxed) >> 32); }
    // The run has been played to its end and its last frame has been heard.
    bool runEnded() const {
        return endedSerial.load(std::memory_order_acquire) == currentSerial() &&
               steadyNowNs() >= endHeardAtNs.load(std::memory_order_relaxed);
    }
    int32_t currentState() const {
        const int32_t s = state.load(std::memory_order_relaxed);
        return s == Playing && runEnded() ? Stopped : s;
    }
    // A new serial; a new run as well unless the current one goes on under it.
    uint32_t nextSerial(bool sameRun);
    void startRun(int64_t startFrame, int64_t endFrame);
    // The current run goes on at the tempo now set, from the last frame handed to the output.
    void continueRun();
    void startPlaying();
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

    // Goes on with another output, nullptr for the silent one in place of a device.
    void replaceOutput(std::unique_ptr<AudioOutput> next);
    // A lost device gives way to the silent output.
    void checkOutput();
    // Playing silently for want of a device: the device is tried again on a thread of
    // its own (a server that does not answer holds it for seconds), and taken up on
    // this one once it opens.
    void retryDevice();
    void takeUpDevice(std::unique_ptr<AudioOutput> real, int deviceNumber);
    void announceSilence(bool silently) {
        if (silently == playingSilently) return;
        playingSilently = silently;
        if (silently)
            retryTimer.start();
        else
            retryTimer.stop();
        QMetaObject::invokeMethod(
            &owner, [this, silently] { emit owner.PlayingSilentlyChanged(0, silently); }, Qt::QueuedConnection);
    }

    SoundPlayer& owner;
    AudioOutputFactory& outputs;
    bool started = false;
    int device = 0;
    bool levelEvents = true;
    bool playingSilently = false;  // the silent output stands in for a device that did not open

    // Shared with the output and decode threads.
    BlockRing ring;
    PlaybackClock clock;
    std::atomic<int32_t> state{Stopped};
    // The run (high half) and the serial (low half) of what is played now; a run is the
    // serial that started it.
    std::atomic<uint64_t> runAndSerial{0};
    Handoff handoff;
    std::atomic<uint32_t> endedSerial{~0u};
    std::atomic<int64_t> endHeardAtNs{0};
    std::atomic<float> tempoChange{0.0f};
    std::atomic<bool> loopRange{false};
    std::atomic<int> outputRate{kDefaultOutputRate};

    // Output thread only.
    int blockOffset = 0;
    uint32_t renderedSerial = 0;
    uint32_t handedRun = 0;
    double handedUpTo = -1;  // source frame after the last one handed out in handedRun; < 0: none

    // UI thread only.
    QString fileName;
    QString loadFailure;  // the file and why it is no sound, after a load that failed on it
    int rate = 0;
    int64_t lengthFrames = 0;
    int32_t lengthMs = 0;
    int64_t runStart = 0;      // where the current run starts: the position until it is heard
    int64_t runEnd = 0;
    bool rangePlaying = false;  // the current run ends before the sound does
    processing::Shaping rangeShaping;
    // The range PlayRange plays, while the current run lies in it up to its end.
    std::optional<MarkedPiece> piece;
    int64_t levelsShownUpTo = 0;  // steady-clock time up to which levels have been sent
    QTimer levelTimer;
    QTimer retryTimer;  // runs while silent for want of a device; retries while playing
    std::thread retrying;  // opens the device again; joined before the next try
    std::atomic<bool> retryDone{true};

    std::unique_ptr<DecodeWorker> worker;
    std::unique_ptr<AudioOutput> output;  // last: closed first
};

int SoundPlayer::Engine::render(float* out, int frames, int64_t heardAtNs) {
    const uint64_t tag = runAndSerial.load(std::memory_order_acquire);
    const uint32_t current = uint32_t(tag);
    const uint32_t run = uint32_t(tag >> 32);
    const bool playing = state.load(std::memory_order_acquire) == Playing;
    // A new serial is told where this run was left, once the old serial's blocks are
    // dropped below (the decoder may go on from there and needs their room).
    const bool newSerial = current != renderedSerial;
    if (newSerial) {
        renderedSerial = current;
        if (run != handedRun) handedUpTo = -1;
        handedRun = run;
    }
    const double leftAt = handedUpTo;
    int written = 0;
    ClockReading heard;
    heard.run = run;
    heard.heardAtNs = heardAtNs;

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
                heard.peakLeft = std::max(heard.peakLeft, std::fabs(from[i * 2]));
                heard.peakRight = std::max(heard.peakRight, std::fabs(from[i * 2 + 1]));
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
                const int64_t start = heardAtNs != kHeardAtUnknown ? heardAtNs : steadyNowNs();
                const int64_t lasting = int64_t(written) * 1'000'000'000 / outputRate.load(std::memory_order_relaxed);
                endHeardAtNs.store(start + lasting, std::memory_order_relaxed);
                endedSerial.store(current, std::memory_order_release);
                break;
            }
        }
    }
    if (newSerial) {
        handoff.frame.store(leftAt, std::memory_order_relaxed);
        handoff.serial.store(current, std::memory_order_release);
    }
    if (written > 0) handedUpTo = heard.limitFrame;
    if (written > 0 && heardAtNs != kHeardAtUnknown) clock.publish(heard);
    return written;
}

uint32_t SoundPlayer::Engine::nextSerial(bool sameRun) {
    const uint32_t next = currentSerial() + 1;
    const uint32_t run = sameRun ? currentRun() : next;
    runAndSerial.store(uint64_t(run) << 32 | next, std::memory_order_release);
    return next;
}

void SoundPlayer::Engine::startRun(int64_t startFrame, int64_t endFrame) {
    runStart = std::clamp<int64_t>(startFrame, 0, lengthFrames);
    runEnd = std::clamp<int64_t>(endFrame, runStart, lengthFrames);
    rangePlaying = runEnd < lengthFrames;
    // A run inside the marked piece up to its end (a seek or a pause there) is still the piece.
    if (piece && !(runStart >= piece->begin && runEnd == piece->end)) piece.reset();
    worker->startRun(nextSerial(false), runStart, runEnd, piece);
}

void SoundPlayer::Engine::continueRun() { worker->continueRun(nextSerial(true), runStart, runEnd); }

void SoundPlayer::Engine::startPlaying() {
    state.store(Playing, std::memory_order_release);
    levelsShownUpTo = steadyNowNs();
    levelTimer.start();
    output->play();
}

void SoundPlayer::Engine::stopAndRewind() {
    // The stored state, not currentState(): a run the output has just ended was still heard.
    const bool wasActive = state.load(std::memory_order_relaxed) != Stopped;
    state.store(Stopped, std::memory_order_release);
    levelTimer.stop();
    output->halt();
    piece.reset();
    if (loaded()) startRun(0, lengthFrames);
    if (wasActive) postSilentLevels();
}

void SoundPlayer::Engine::settleEnd() {
    if (state.load(std::memory_order_relaxed) == Playing && runEnded()) stopAndRewind();
}

void SoundPlayer::Engine::onLevelTick() {
    checkOutput();
    if (runEnded()) {
        settleEnd();
        return;
    }
    const int64_t now = steadyNowNs();
    const auto [left, right] = clock.peaksHeard(levelsShownUpTo, now, currentRun());
    levelsShownUpTo = now;
    emitLevels(levelOf(left), levelOf(right));
}

void SoundPlayer::Engine::replaceOutput(std::unique_ptr<AudioOutput> next) {
    const bool silently = !next;
    const int nextRate = next ? next->rate() : output ? output->rate() : kDefaultOutputRate;
    // What the old output still held was never heard: playing goes on from what was.
    const bool playing = output && loaded() && currentState() == Playing;
    const int64_t from = playing ? heardFrame() : 0;
    output.reset();
    output = next ? std::move(next) : std::make_unique<SilentOutput>(*this, nextRate);
    outputRate.store(output->rate(), std::memory_order_relaxed);
    if (playing) {
        startRun(from, runEnd);
        output->play();
    }
    announceSilence(silently);
}

void SoundPlayer::Engine::checkOutput() {
    if (output->lost()) replaceOutput(nullptr);
}

void SoundPlayer::Engine::retryDevice() {
    checkOutput();
    if (!playingSilently || !retryDone.load(std::memory_order_acquire)) return;
    if (retrying.joinable()) retrying.join();
    retryDone.store(false, std::memory_order_relaxed);
    // At the rate the loaded sound is decoded for; the sound system converts where the device differs.
    retrying = std::thread([this, deviceNumber = device, rate = output->rate()] {
        auto opened = std::make_shared<std::unique_ptr<AudioOutput>>(outputs.open(*this, deviceNumber, rate));
        QMetaObject::invokeMethod(
            &owner, [this, opened, deviceNumber] { takeUpDevice(std::move(*opened), deviceNumber); },
            Qt::QueuedConnection);
        retryDone.store(true, std::memory_order_release);
    });
}

void SoundPlayer::Engine::takeUpDevice(std::unique_ptr<AudioOutput> real, int deviceNumber) {
    // Playing goes on from the frame being heard (replaceOutput). Dropped when the device
    // works again or another was chosen meanwhile.
    if (real && playingSilently && deviceNumber == device && !real->lost()) replaceOutput(std::move(real));
}

void SoundPlayer::Engine::unload() {
    loadFailure.clear();
    stopAndRewind();
    worker.reset();
    // Whatever the old file left in the ring belongs to an older run and is dropped.
    nextSerial(false);
    fileName.clear();
    rate = 0;
    lengthFrames = 0;
    lengthMs = 0;
    runStart = runEnd = 0;
    rangePlaying = false;
}

int32_t SoundPlayer::Engine::load(const QString& path) {
    unload();
    Result<std::unique_ptr<decode::AudioDecoder>> opened =
        decode::openInBackground(path, output->rate(), kOutputChannels);
    if (!opened) {
        loadFailure = opened.failure().detail;
        return opened.failure().code < 0 ? opened.failure().code : err::InvalidSoundFile;
    }
    std::unique_ptr<decode::AudioDecoder> decoder = std::move(*opened);
    if (decoder->lengthFrames() <= 0) return err::InvalidSoundFile;
    decoder->expectSeeks();
    rate = decoder->outputRate();
    lengthFrames = decoder->lengthFrames();
    lengthMs = decoder->lengthMs();
    fileName = path;
    worker = std::make_unique<DecodeWorker>(std::move(decoder), ring, tempoChange, handoff, loopRange);
    startRun(0, lengthFrames);  // the start is decoded ahead, so Play sounds at once
    return err::Ok;
}

int64_t SoundPlayer::Engine::heardFrame() const {
    double frame = double(runStart);
    if (state.load(std::memory_order_relaxed) != Stopped) {
        const int64_t now = steadyNowNs();
        if (const auto heard = clock.heardAt(now, currentRun())) {
            const double elapsed = double(now - heard->heardAtNs) / 1e9;
            // A looping piece comes round to its begin, which may lie before the run's start.
            const double first = double(piece ? std::min(piece->begin, runStart) : runStart);
            const double heardSoFar = std::max(first, heard->limitFrame);
            frame = std::clamp(heard->sourceFrame + elapsed * rate * heard->speed, first, heardSoFar);
        }
    }
    return std::llround(frame);
}

int32_t SoundPlayer::Engine::positionMs() const {
    if (!loaded() || runEnded()) return 0;
    return int32_t(decode::framesToMs(heardFrame(), rate));
}

SoundPlayer::SoundPlayer(AudioOutputFactory& outputs, QObject* parent)
    : QObject(parent), engine_(std::make_unique<Engine>(*this, outputs)) {}
SoundPlayer::~SoundPlayer() = default;

int32_t SoundPlayer::StartUp(int16_t players, QWidget*, int16_t, int16_t, int16_t, int16_t) {
    if (players != 1) return err::ParameterOutOfRange;
    if (engine_->started) return err::AlreadyInitialized;
    engine_->replaceOutput(engine_->outputs.open(*engine_, engine_->device, 0));
    engine_->started = true;
    return err::Ok;
}

PlayerOptionSet& SoundPlayer::PlayerOptions() { return options_; }
LevelMeterSet& SoundPlayer::LevelMeters() { return meters_; }

int32_t PlayerOptionSet::OutputDevice(int16_t player, int32_t device) {
    if (player != 0) return err::InvalidPlayer;
    SoundPlayer::Engine& e = *player_.engine_;
    if (device < 0 || device > e.outputs.deviceCount()) return err::ParameterOutOfRange;
    if (device == e.device) return err::Ok;
    e.device = device;
    if (!e.started) return err::Ok;
    // A new device may run at another rate: the loaded file is opened again for it.
    const QString reload = e.fileName;
    e.unload();
    e.replaceOutput(e.outputs.open(e, device, 0));
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
    engine_->checkOutput();
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

const QString& SoundPlayer::LastErrorDetail() const { return engine_->loadFailure; }

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
    e.retryDevice();
    e.settleEnd();
    if (e.currentState() == Playing) return err::Ok;
    // Paused or stopped, the run from where playing goes on has been decoded ahead.
    e.startPlaying();
    return err::Ok;
}

int32_t SoundPlayer::Pause(int16_t player) {
    if (player != 0) return err::InvalidPlayer;
    Engine& e = *engine_;
    if (!e.loaded()) return err::NoSoundLoaded;
    e.checkOutput();
    e.settleEnd();
    if (e.currentState() != Playing) return err::Ok;
    // Paused where the listener is, and resumed from there with a new run: what the
    // output had queued past that point is dropped, so nothing is heard twice.
    e.state.store(Paused, std::memory_order_release);
    // Should the output end the run meanwhile, the pause lands on its end.
    e.startRun(e.heardFrame(), e.runEnd);
    e.output->halt();
    e.levelTimer.stop();
    e.postSilentLevels();
    return err::Ok;
}

int32_t SoundPlayer::Stop(int16_t player) {
    if (player != 0) return err::InvalidPlayer;
    if (!engine_->loaded()) return err::NoSoundLoaded;
    engine_->checkOutput();
    engine_->settleEnd();
    engine_->stopAndRewind();
    return err::Ok;
}

int32_t SoundPlayer::PlayRange(int16_t player, int32_t beginMs, int32_t endMs) {
    if (player != 0) return err::InvalidPlayer;
    Engine& e = *engine_;
    if (!e.loaded()) return err::NoSoundLoaded;
    e.retryDevice();
    e.settleEnd();
    const int64_t begin = decode::msToFrames(std::max(beginMs, 0), e.rate);
    const int64_t end = std::min(decode::msToFrames(endMs, e.rate), e.lengthFrames);
    if (end <= begin) {
        e.stopAndRewind();
        return err::InvalidPosition;
    }
    e.piece = MarkedPiece{begin, end, e.rangeShaping};
    e.startRun(begin, end);
    if (e.currentState() == Playing) e.output->dropQueued();
    e.startPlaying();
    return err::Ok;
}

int32_t SoundPlayer::Seek(int16_t player, int32_t positionMs) {
    if (player != 0) return err::InvalidPlayer;
    Engine& e = *engine_;
    if (!e.loaded()) return err::NoSoundLoaded;
    e.checkOutput();
    e.settleEnd();
    const int64_t target = std::clamp<int64_t>(decode::msToFrames(positionMs, e.rate), 0, e.lengthFrames);
    // A marked piece keeps its end while the seek stays inside it; elsewhere the sound plays to its end.
    const bool keepRange = e.currentState() != Stopped && e.rangePlaying && target < e.runEnd;
    e.startRun(target, keepRange ? e.runEnd : e.lengthFrames);
    if (e.currentState() == Playing) e.output->dropQueued();
    return err::Ok;
}

int32_t SoundPlayer::SetTempo(int16_t player, float changePercent) {
    if (player != 0) return err::InvalidPlayer;
    if (!(changePercent >= -kMaxTempoChange && changePercent <= kMaxTempoChange)) return err::ParameterOutOfRange;
    Engine& e = *engine_;
    if (changePercent == e.tempoChange.load(std::memory_order_relaxed)) return err::Ok;
    e.tempoChange.store(changePercent, std::memory_order_relaxed);
    if (!e.loaded()) return err::Ok;
    e.settleEnd();
    // What has been decoded ahead at the old tempo is decoded again: playing, from the
    // last frame handed to the output, so the new tempo is heard once the output has
    // played what it holds; otherwise from the start of the next Play.
    if (e.state.load(std::memory_order_relaxed) == Playing)
        e.continueRun();
    else
        e.startRun(e.runStart, e.runEnd);
    return err::Ok;
}

int32_t SoundPlayer::SetRangeLooping(int16_t player, bool looping) {
    if (player != 0) return err::InvalidPlayer;
    engine_->loopRange.store(looping, std::memory_order_relaxed);
    return err::Ok;
}

int32_t SoundPlayer::SetRangeShaping(int16_t player, const processing::Shaping& shaping) {
    if (player != 0) return err::InvalidPlayer;
    engine_->rangeShaping = shaping;
    return err::Ok;
}

}  // namespace clipwren
