#include "components/decode/FrameReader.h"

#include "components/decode/FfmpegError.h"
#include "components/decode/InputFile.h"
#include "components/decode/StreamTimeline.h"
#include "components/errors/modSoundErrDesc.h"

#include <QLatin1String>
#include <cstdlib>

namespace clipwren::decode {

namespace {

// The longest loss that is filled with silence. An Ogg page holds well under a second
// of audio and a damaged packet a few dozen milliseconds, so a run of lost pages stays
// within this; a timestamp further ahead is broken (a wrapped or damaged granule), and
// counting goes on past it instead of filling the rest of the sound with silence.
constexpr int64_t kLongestConcealedGapSeconds = 10;

bool isDamageError(int rc) { return rc < 0 && rc != AVERROR(EAGAIN) && rc != AVERROR_EOF; }

}  // namespace

FrameReader::FrameReader(InputFile& input, StreamTimeline& timeline) : file_(input), timeline_(timeline) {}

int32_t FrameReader::allocate() {
    packet_.reset(av_packet_alloc());
    frame_.reset(av_frame_alloc());
    return packet_ && frame_ ? err::Ok : err::NotEnoughMemory;
}

bool FrameReader::restart(int64_t sourceFrame) {
    const bool moved = sourceFrame <= 0
                           ? file_.rewind(timeline_.firstPacketTimestamp(), timeline_.startsUntimed())
                           : file_.seek(timeline_.timestampOf(sourceFrame));
    if (!moved) return false;
    if (file_.openDecoder() != err::Ok) return false;
    release();
    timeline_.restartFrameLengths();
    landingPos_ = -1;
    decodeErrors_ = 0;
    gapBefore_ = 0;
    spanRemainder_ = 0;
    // Placed by timestamp even at the start, so a decoder that skips its delay
    // differently after a flush still lines up.
    placement_ = Placement::NextByTimestamp;
    fallbackPlacement_ = sourceFrame <= 0 ? 0 : AV_NOPTS_VALUE;
    input_ = Input::Reading;
    return true;
}

void FrameReader::release() {
    av_frame_unref(frame_.get());
    holding_ = false;
}

int64_t FrameReader::takeGapBefore() {
    const int64_t gap = gapBefore_;
    gapBefore_ = 0;
    return gap;
}

bool FrameReader::next() {
    if (holding_) return true;
    if (input_ == Input::Stopped || input_ == Input::Ended) return false;
    AVCodecContext* codec = file_.codec();
    for (;;) {
        const int rc = avcodec_receive_frame(codec, frame_.get());
        if (rc == 0) {
            if (frame_->nb_samples <= 0 || frame_->sample_rate <= 0 || onUnplaceableLandingPage()) {
                av_frame_unref(frame_.get());
                continue;
            }
            if (!placeDecodedFrame()) {
                av_frame_unref(frame_.get());
                return false;
            }
            holding_ = true;
            return true;
        }
        if (rc == AVERROR_EOF) {
            input_ = Input::Ended;
            return false;
        }
        if (isDamageError(rc)) {
            skipDamage();
            continue;
        }
        if (input_ == Input::Draining) {
            input_ = Input::Ended;
            return false;
        }
        feedDecoder();
    }
}

// Ogg gives the packets of the page a seek lands on timestamps derived without the
// page before it: FLAC and Speex frames there come out displaced by up to a page (two
// FLAC frames, 24 Speex frames in the files tried). The frames of that page are
// dropped; placement starts on the next page, whose timestamps are exact.
bool FrameReader::onUnplaceableLandingPage() const {
    return placing() && fallbackPlacement_ == AV_NOPTS_VALUE && file_.containerName() == QLatin1String("ogg") &&
           frame_->pkt_pos >= 0 && frame_->pkt_pos == landingPos_;
}

bool FrameReader::placeDecodedFrame() {
    timeline_.noteFrameLength(frame_->nb_samples);
    // Once the timestamps have jumped, they tell nothing: frames are counted only.
    int64_t placed = timeline_.discontinuous() ? AV_NOPTS_VALUE : timeline_.place(frame_.get());
    if (placing()) {
        if (placed == AV_NOPTS_VALUE) placed = fallbackPlacement_;
        if (placed == AV_NOPTS_VALUE) {
            input_ = Input::Stopped;  // the caller falls back to counting from the start
            return false;
        }
        sourceNext_ = placed;
        placement_ = Placement::Following;
    } else if (placed != AV_NOPTS_VALUE) {
        const int64_t ahead = placed - sourceNext_;
        if (std::llabs(ahead) <= timeline_.jumpTolerance()) {
            // Where counting puts it, within the rounding of the timestamps.
        } else if (ahead > 0 && ahead <= kLongestConcealedGapSeconds * timeline_.sampleRate()) {
            // Audio was lost before this frame: it keeps its place, the gap is reported.
            gapBefore_ = ahead;
            sourceNext_ = placed;
        } else if (ahead < 0 && -ahead <= frameSpan_) {
            // Overlapping the frame before (whose length was miscounted: the MP3 decoder
            // labels the first frame after a change of rate with the old rate): the
            // timestamp holds, and the caller drops what it has of this frame already.
            sourceNext_ = placed;
        } else {
            // Timestamps that jump back or far ahead no longer tell positions: count on.
            timeline_.markDiscontinuous();
        }
    }
    frameStart_ = sourceNext_;
    frameSpan_ = spanOf(frame_.get());
    sourceNext_ += frameSpan_;
    return true;
}

int64_t FrameReader::spanOf(const AVFrame* frame) {
    const int rate = timeline_.sampleRate();
    if (frame->sample_rate == rate) return frame->nb_samples;
    spanRemainder_ += int64_t(frame->nb_samples) * rate;
    const int64_t span = spanRemainder_ / frame->sample_rate;
    spanRemainder_ %= frame->sample_rate;
    return span;
}

void FrameReader::feedDecoder() {
    AVPacket* packet = packet_.get();
    int rc = file_.readPacket(packet);
    if (rc < 0) {
        // End of file, or a read error that ends the sound where the data stops.
        if (rc != AVERROR_EOF) logIfFailed(rc, "reading a sound file");
        input_ = Input::Draining;
        file_.sendPacket(nullptr);
        return;
    }
    if (packet->stream_index == file_.streamIndex()) {
        if (landingPos_ < 0) landingPos_ = packet->pos;
        lastSentPos_ = packet->pos;
        rc = file_.sendPacket(packet);
        if (isDamageError(rc)) skipDamage();
    }
    av_packet_unref(packet);
}

// A packet that does not decode is dropped, as the ffmpeg command line drops it (FFmpeg
// logs why). Before the first frame after a restart that is the landing's preroll, not
// damage.
void FrameReader::skipDamage() {
    if (!placing()) ++decodeErrors_;
}

}  // namespace clipwren::decode
