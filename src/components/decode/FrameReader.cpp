#include "components/decode/FrameReader.h"

#include "components/decode/FfmpegError.h"
#include "components/decode/InputFile.h"
#include "components/decode/StreamTimeline.h"
#include "components/errors/modSoundErrDesc.h"

#include <cstdlib>

namespace clipwren::decode {

namespace {

// Decode errors tolerated after a restart before the first frame comes out: a demuxer
// seek may land inside a frame, or before data that refers back past the landing
// (MP3's bit reservoir); such errors are preroll noise, not damage.
constexpr int kMaxPrerollErrors = 32;

bool isDamageError(int rc) { return rc < 0 && rc != AVERROR(EAGAIN) && rc != AVERROR_EOF; }

}  // namespace

FrameReader::FrameReader(InputFile& input, StreamTimeline& timeline) : file_(input), timeline_(timeline) {}

int32_t FrameReader::allocate() {
    packet_.reset(av_packet_alloc());
    frame_.reset(av_frame_alloc());
    return packet_ && frame_ ? err::Ok : err::NotEnoughMemory;
}

bool FrameReader::restart(int64_t sourceFrame) {
    if (!file_.seek(timeline_.timestampOf(sourceFrame), timeline_.firstPacketTimestamp())) return false;
    if (file_.openDecoder() != err::Ok) return false;
    release();
    timeline_.restartFrameLengths();
    landingPos_ = -1;
    prerollErrors_ = 0;
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

bool FrameReader::next() {
    if (holding_) return true;
    if (input_ == Input::Damaged || input_ == Input::Ended) return false;
    AVCodecContext* codec = file_.codec();
    for (;;) {
        const int rc = avcodec_receive_frame(codec, frame_.get());
        if (rc == 0) {
            if (frame_->nb_samples <= 0) {
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
            if (placing() && ++prerollErrors_ < kMaxPrerollErrors) continue;
            return stopAtDamage(rc);
        }
        if (input_ == Input::Draining) {
            input_ = Input::Ended;
            return false;
        }
        if (!feedDecoder()) return false;
    }
}

bool FrameReader::placeDecodedFrame() {
    timeline_.noteFrameLength(frame_->nb_samples);
    int64_t placed = timeline_.place(frame_.get());
    if (placing()) {
        if (placed == AV_NOPTS_VALUE) placed = fallbackPlacement_;
        if (placed == AV_NOPTS_VALUE) {
            input_ = Input::Damaged;  // the caller falls back to counting from the start
            return false;
        }
        sourceNext_ = placed;
        placement_ = Placement::Following;
    } else if (placed != AV_NOPTS_VALUE && std::llabs(placed - sourceNext_) > timeline_.jumpTolerance()) {
        // A jump in the timestamps means lost data (a damaged page or frame): the sound
        // ends there rather than continuing displaced in time.
        input_ = Input::Damaged;
        return false;
    }
    frameStart_ = sourceNext_;
    sourceNext_ += frame_->nb_samples;
    return true;
}

bool FrameReader::feedDecoder() {
    AVPacket* packet = packet_.get();
    int rc = av_read_frame(file_.format(), packet);
    if (rc < 0) {
        // End of file, or a read error that ends the sound where the data stops.
        if (rc != AVERROR_EOF) logIfFailed(rc, "reading a sound file");
        input_ = Input::Draining;
        avcodec_send_packet(file_.codec(), nullptr);
        return true;
    }
    if (packet->stream_index == file_.streamIndex()) {
        if (landingPos_ < 0) landingPos_ = packet->pos;
        lastSentPos_ = packet->pos;
        rc = avcodec_send_packet(file_.codec(), packet);
        if (isDamageError(rc) && !(placing() && ++prerollErrors_ < kMaxPrerollErrors)) {
            av_packet_unref(packet);
            return stopAtDamage(rc);
        }
    }
    av_packet_unref(packet);
    return true;
}

bool FrameReader::stopAtDamage(int rc) {
    logIfFailed(rc, "decoding ends at damaged data");
    input_ = Input::Damaged;
    return false;
}

}  // namespace clipwren::decode
