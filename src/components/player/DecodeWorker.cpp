#include "components/player/DecodeWorker.h"

#include "components/errors/modSoundErrDesc.h"
#include "components/player/ThreadPriority.h"

#include <soundtouch/SoundTouch.h>

#include <algorithm>
#include <chrono>
#include <cmath>

namespace clipwren::player {

namespace {
constexpr int kInputFrames = 1024;
// How long to wait for the consumer to free a block: a fraction of a block's duration.
constexpr auto kFullRingWait = std::chrono::milliseconds(5);
// How often to look for the output's handoff: it comes at the output's next request,
// every 10 ms or sooner, while the server's queue holds several times that.
constexpr auto kHandoffWait = std::chrono::milliseconds(1);
}  // namespace

DecodeWorker::DecodeWorker(std::unique_ptr<decode::AudioDecoder> decoder, BlockRing& ring,
                           const std::atomic<float>& tempoChange, const Handoff& handoff,
                           const std::atomic<bool>& loopPiece)
    : decoder_(std::move(decoder)),
      stretcher_(std::make_unique<soundtouch::SoundTouch>()),
      ring_(ring),
      tempoChange_(tempoChange),
      handoff_(handoff),
      loopPiece_(loopPiece),
      input_(std::make_unique<float[]>(size_t(kInputFrames) * kOutputChannels)) {
    stretcher_->setSampleRate(uint(decoder_->outputRate()));
    stretcher_->setChannels(uint(kOutputChannels));
    thread_ = std::jthread([this](std::stop_token stop) { run(stop); });
}

DecodeWorker::~DecodeWorker() {
    thread_.request_stop();
    wake_.notify_all();
}

void DecodeWorker::startRun(uint32_t serial, int64_t startFrame, int64_t endFrame,
                            const std::optional<MarkedPiece>& piece) {
    {
        std::lock_guard lock(mutex_);
        pending_ = Run{serial, startFrame, endFrame, false, piece};
    }
    wake_.notify_all();
}

void DecodeWorker::continueRun(uint32_t serial, int64_t runStart, int64_t endFrame) {
    {
        std::lock_guard lock(mutex_);
        pending_ = Run{serial, runStart, endFrame, true, std::nullopt};
    }
    wake_.notify_all();
}

void DecodeWorker::run(std::stop_token stop) {
    raiseThreadPriority(ThreadRole::Decode);
    while (!stop.stop_requested()) {
        std::optional<Run> next;
        {
            std::unique_lock lock(mutex_);
            if (runDone_) wake_.wait(lock, stop, [this] { return pending_.has_value(); });
            next.swap(pending_);
        }
        if (stop.stop_requested()) break;
        if (next) beginRun(*next);
        if (runDone_) continue;
        if (current_.continued && !takeHandoff()) {
            std::this_thread::sleep_for(kHandoffWait);
            continue;
        }

        AudioBlock* block = ring_.writeSlot();
        if (!block) {
            std::this_thread::sleep_for(kFullRingWait);
            continue;
        }
        try {
            fillBlock(*block);
        } catch (...) {
            // Out of memory in the decoder or the stretcher: the run ends here, as at damage,
            // rather than the exception ending the program from this thread.
            block->serial = current_.serial;
            block->frames = 0;
            block->endOfSound = true;
            runDone_ = true;
        }
        ring_.publish();
    }
}

void DecodeWorker::beginRun(const Run& next) {
    current_ = next;
    runDone_ = false;
    if (current_.continued) return;
    current_.endFrame = std::min(current_.endFrame, decoder_->lengthFrames());
    if (current_.piece) {
        current_.piece->end = current_.endFrame;
        shapePiece();
    }
    stretching_ = false;
    stretcherInputDone_ = false;
    stretcher_->clear();
    appliedChange_ = 0;
    sourceFrame_ = double(current_.startFrame);
    // A run whose start cannot be reached plays nothing: its first block ends it.
    int32_t sought = err::UnknownError;
    try {
        sought = decoder_->seek(current_.startFrame);
    } catch (...) {
    }
    if (sought != err::Ok) current_.endFrame = current_.startFrame;
}

bool DecodeWorker::takeHandoff() {
    if (handoff_.serial.load(std::memory_order_acquire) != current_.serial) return false;
    const double frame = handoff_.frame.load(std::memory_order_relaxed);
    Run from = current_;
    from.continued = false;
    // Past the end (the output has taken the run's last frame), the run ends at once.
    if (frame >= 0) from.startFrame = std::min<int64_t>(std::llround(frame), from.endFrame);
    beginRun(from);
    return true;
}

bool DecodeWorker::superseded() {
    std::lock_guard lock(mutex_);
    return pending_.has_value() || thread_.get_stop_token().stop_requested();
}

void DecodeWorker::shapePiece() {
    if (shapedPiece_ == current_.piece) return;
    const MarkedPiece& piece = *current_.piece;
    processing::ShapingPlan plan;
    int32_t planned = err::UnknownError;
    try {
        planned = processing::planShaping(*decoder_, piece.begin, piece.end, piece.shaping,
                                          [this] { return superseded(); }, &plan);
    } catch (...) {
    }
    // Unmeasured (a newer run came first, or the piece did not decode): no gain, and
    // measured again next time.
    if (planned != err::Ok) {
        envelope_ = processing::PieceEnvelope(piece.end - piece.begin, decoder_->outputRate(), piece.shaping.fades);
        shapedPiece_.reset();
        return;
    }
    envelope_ = plan.envelope;
    shapedPiece_ = piece;
}

void DecodeWorker::applyPiece(float* samples, int64_t first, int64_t frames) const {
    if (current_.piece) envelope_.apply(samples, kOutputChannels, first - current_.piece->begin, frames);
}

bool DecodeWorker::looping() const { return current_.piece && loopPiece_.load(std::memory_order_relaxed); }

void DecodeWorker::fillBlock(AudioBlock& block) {
    block.serial = current_.serial;
    block.endOfSound = false;
    block.frames = 0;
    if (current_.endFrame <= current_.startFrame) {  // nothing to play, or a start that could not be reached
        block.endOfSound = runDone_ = true;
        return;
    }
    const float change = tempoChange_.load(std::memory_order_relaxed);
    if (change != appliedChange_) restartAt(change);
    // The piece again from its begin, straight after its end: no gap at the seam.
    if (!stretching_ && looping() && decoder_->position() >= current_.endFrame) {
        decoder_->seek(current_.piece->begin);
        sourceFrame_ = double(decoder_->position());
    }
    block.sourceFrame = sourceFrame_;
    if (stretching_)
        fillStretched(block, change);
    else
        fillPlain(block);
    if (block.endOfSound) runDone_ = true;
}

void DecodeWorker::restartAt(float change) {
    // What the stretcher holds was made at the old tempo, possibly well over 100 ms of it at
    // slow tempi: drop it and go on from the source frame it had reached.
    if (stretching_) {
        decoder_->seek(std::min<int64_t>(std::llround(sourceFrame_), current_.endFrame));
        sourceFrame_ = double(decoder_->position());
    }
    stretcher_->clear();
    stretcherInputDone_ = false;
    appliedChange_ = change;
    stretching_ = change != 0.0f;
    if (stretching_) stretcher_->setTempoChange(change);
}

void DecodeWorker::fillPlain(AudioBlock& block) {
    block.speed = 1;
    const int64_t first = decoder_->position();
    const int64_t wanted = std::min<int64_t>(kBlockFrames, current_.endFrame - first);
    const int64_t got = wanted > 0 ? decoder_->read(block.samples, wanted) : 0;
    block.frames = int(std::max<int64_t>(got, 0));
    applyPiece(block.samples, first, block.frames);
    sourceFrame_ += block.frames;
    // A read error ends the sound where it stands, as the end of the file would.
    block.endOfSound = got <= 0 || (!looping() && decoder_->position() >= current_.endFrame);
}

void DecodeWorker::fillStretched(AudioBlock& block, float change) {
    const double speed = 1.0 + double(change) / 100.0;
    block.speed = speed;
    const bool loop = looping();
    while (stretcher_->numSamples() < uint(kBlockFrames) && !stretcherInputDone_) {
        // A looping piece goes on from its begin, through the stretcher without a break.
        if (loop && decoder_->position() >= current_.endFrame) decoder_->seek(current_.piece->begin);
        const int64_t first = decoder_->position();
        const int64_t wanted = std::min<int64_t>(kInputFrames, current_.endFrame - first);
        const int64_t got = wanted > 0 ? decoder_->read(input_.get(), wanted) : 0;
        if (got <= 0) {
            stretcher_->flush();
            stretcherInputDone_ = true;
        } else {
            applyPiece(input_.get(), first, got);
            stretcher_->putSamples(input_.get(), uint(got));
        }
    }
    // The flush pads with silence: hand out no more than the source has left.
    const double end = double(current_.endFrame);
    const double sourceLeft = loop ? kBlockFrames * speed : end - sourceFrame_;
    const int allowed = int(std::clamp(std::ceil(sourceLeft / speed), 0.0, double(kBlockFrames)));
    block.frames = int(stretcher_->receiveSamples(block.samples, uint(allowed)));
    sourceFrame_ += block.frames * speed;
    sourceFrame_ = loop && sourceFrame_ >= end ? double(current_.piece->begin) + (sourceFrame_ - end)
                                               : std::min(sourceFrame_, end);
    block.endOfSound = stretcherInputDone_ && (stretcher_->numSamples() == 0 ||
                                               (!loop && (sourceFrame_ >= end || allowed == 0)));
}

}  // namespace clipwren::player
