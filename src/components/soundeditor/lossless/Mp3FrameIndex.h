#pragma once
// One index of an MP3 file's audio frames for everything that reads the file: the
// decoder's packets and seeks, the waveform's spot reads and the lossless cut. Opening
// reads the file's head and its last frame only. The length comes from a Xing/Info/VBRI
// header frame that covers the file exactly (its byte count reaches the end of the audio,
// where a frame of the stream ends), else from walking every frame. A frame is found
// again from a checkpoint kept every kCheckpointFrames frames as a walk passes, walking
// on only as far as a position asks; in a constant-rate stream with such a header a
// frame's place follows from its number, with no walk at all. Memory stays at some 34
// kilobytes per hour of sound. Damage part-way in a stream whose header frame counts it
// is passed over: the stream goes on where two of its frames follow each other again,
// the frames lost in between counted from the bytes passed over (at a constant rate,
// from the place). Not thread-safe: one reader per thread (the walk ahead is the index's
// own).
#include "components/soundeditor/lossless/FileWindow.h"
#include "components/soundeditor/lossless/Mp3Frames.h"

#include <QString>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace clipwren::soundeditor::mp3 {

class Mp3FrameIndex {
public:
    // Fails with copyNotPossible(why) for a file that does not start as one plain Layer
    // III stream (indexMp3's reasons). Damage found later ends the frames that can be
    // read, and leaves the length unknown.
    static Result<std::unique_ptr<Mp3FrameIndex>> open(const QString& path);
    struct PrivateKey {};  // only open() constructs
    Mp3FrameIndex(PrivateKey, const QString& path);
    ~Mp3FrameIndex();
    Mp3FrameIndex(const Mp3FrameIndex&) = delete;
    Mp3FrameIndex& operator=(const Mp3FrameIndex&) = delete;

    // Walks the frames not walked yet on a thread of its own, so that a far seek soon
    // after opening finds its checkpoint instead of walking there (a reader that seeks
    // calls it; a copy, which reads one piece, does not).
    void walkAhead();

    // The stream's parameters, header frame and LAME tag (no frames).
    const Mp3Index& head() const { return head_; }
    // The stream's audio frames.
    int64_t frameCount() const { return frameCount_; }
    // The length of the gapless decode as FFmpeg decodes it (samples per channel);
    // nullopt where only decoding could tell (see decodedLength()) or the stream is
    // damaged part-way.
    std::optional<int64_t> decodedLength();

    // Frame *number, or where it was lost to damage the first one after it (its number
    // back in *number): its bytes (header included) in *bytes, valid until the next call,
    // its header and its place in the file. False past the stream's end or where it
    // cannot be read on. Frames read in order cost no search.
    bool frame(int64_t* number, const uint8_t** bytes, FrameHeader* header, int64_t* offset = nullptr);

    // The frames a lossless cut of decoded samples [begin, end) plans from: those that
    // hold the piece, with the lead and the bit-reservoir frames before it.
    Result<Mp3Index> framesForPiece(int64_t begin, int64_t end);

private:
    Failure readHead(const QString& path);
    int64_t audioEnd();
    bool headerCoversFile(int64_t end);
    bool locate(int64_t* number, int64_t* offset);
    bool locateByRate(int64_t number, int64_t* offset);
    // Walks on, reading through `file`, until frame `number` has been passed; false when
    // the stream ends first. With walkLock_ held (but while opening).
    bool walkPast(FileWindow& file, int64_t number);
    // After damage at walkOffset_, moves the walk on to where the stream goes on.
    bool resync(FileWindow& file);
    // A frame of the stream at `at`, followed by another or by the end of the audio.
    bool followedFrameAt(FileWindow& file, int64_t at) const;
    // A frame of the stream at `at`: its header.
    std::optional<FrameHeader> streamFrameAt(FileWindow& file, int64_t at) const;

    QString path_;
    FileWindow file_;
    Mp3Index head_;
    int64_t firstAudio_ = 0;  // where the first audio frame starts
    int64_t audioEnd_ = 0;
    int64_t frameCount_ = 0;
    bool counted_ = false;  // by a header frame that covers the file
    bool byRate_ = false;   // constant-rate, so counted
    double averageFrameBytes_ = 0;

    struct Checkpoint {
        int64_t number;
        int64_t offset;
    };
    // The walk, shared with the walk ahead under walkLock_: every kCheckpointFrames-th
    // frame walked, and where the stream goes on after damage.
    std::mutex walkLock_;
    std::vector<Checkpoint> checkpoints_;
    int64_t walkedFrames_ = 0;
    int64_t walkOffset_ = 0;  // where the next frame to walk starts
    bool walkEnded_ = false;
    bool walkDamaged_ = false;
    bool bitRateVaries_ = false;
    std::thread walker_;
    std::atomic<bool> stopWalking_{false};

    int64_t nextNumber_ = -1;  // the frame after the last one read, and where it starts
    int64_t nextOffset_ = 0;
};

}  // namespace clipwren::soundeditor::mp3
