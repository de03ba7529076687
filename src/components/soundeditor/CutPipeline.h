#pragma once
// One cut of a sound file, made on the calling thread: load the input, keep a range of
// it, and write that range to the output, either copying the source's own encoded frames
// or decoding and encoding it anew; which of the two, and why, is decided in one place
// (CutPipeline::exportTo). The sound editor runs the three steps on its worker thread,
// one per operation; clipwren-cut runs the whole cut with runCut(). Pipelines share
// nothing: several may cut at once on several threads.
//
// The decoding and encoding need the audio libraries and are handed in as Codecs. Without
// them (clipwren-cut, which does not load them unless it must) a pipeline still copies an
// MP3 to an MP3 file; anything else it leaves untouched and says so.
#include "components/decode/AudioDecoder.h"
#include "components/errors/Failure.h"
#include "components/processing/PieceShaping.h"
#include "components/soundeditor/FormatTable.h"
#include "components/soundeditor/PendingOutputFile.h"
#include "components/soundeditor/Selection.h"
#include "components/soundeditor/SoundEditor.h"
#include "components/soundeditor/lossless/StreamCopy.h"

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

namespace clipwren::soundeditor {

namespace mp3 {
class Mp3FrameIndex;
}

// What is done to the decoded piece before it is encoded: the fades and the loudness
// that "Play marked" plays. A piece that needs any of it is encoded anew rather than
// copied, but for an MP3 copied to MP3 that is only normalized: its frames' global gain
// takes the gain, in whole steps of 1.5 dB.
struct Finish {
    processing::Shaping shaping;
    bool changesSound() const { return shaping.any(); }
    bool onlyGain() const { return shaping.normalizeToLufs && shaping.fades == processing::Fades{}; }
};

struct CutRequest {
    QString input;
    SampleRange range;
    QString output;  // "-" is standard output
    OutputFormatSettings format;  // the encoding; OutputFormatFor gives the window's
    int sampleRate = kWorkingRate;
    int channels = kWorkingChannels;
    Finish finish;
    // Written in place of the source's fields of the same names (a cue sheet's track).
    TagFields tags;
};

enum class CutPhase { Loading, Cropping, Exporting };

struct CutHooks {
    // Each step's percentages, 0 first and 100 last when it succeeds.
    std::function<void(CutPhase phase, int percent)> progress;
    // Asked often; true stops the cut, which then fails with err::UnknownError and writes nothing.
    std::function<bool()> cancelled;
};

struct CutReport {
    Failure failure;
    CutPhase phase = CutPhase::Loading;  // the step that failed
    ExportReport exported;  // how the file was made, and its shortfalls
    // Without the codecs: the cut needs them (it is not an MP3 copy into a file, or the
    // copy turned out not to be possible). Nothing was written.
    bool needsCodecs = false;

    bool succeeded() const { return !failure.failed() && !needsCodecs; }
    // For the user: "File could not be loaded." or "Export to file failed.", the code's
    // text and the detail, one a line (CR LF between).
    QString message() const;
};

// An export whose settings and output have been accepted.
struct ExportPlan {
    Encoding encoding;
    OutputPlan output;
    int sampleRate = 0;
    int channels = 0;
    Finish finish;
    TagFields tags;  // in place of the source's fields of the same names
};

// An input opened for decoding at the working rate and channels.
class DecodedSource {
public:
    virtual ~DecodedSource() = default;
    virtual const decode::SourceInfo& info() const = 0;
    // At the working rate.
    virtual int64_t lengthFrames() const = 0;
    virtual Failure seek(int64_t frame) = 0;
    // Copies decoded samples [begin, end) (at the source's rate) of AAC in MP4 into output.
    virtual Failure copyAac(int64_t begin, int64_t end, const Encoding& encoding, const TagFields& tags,
                            PendingOutputFile& output, const CopyHooks& hooks) = 0;
    // Measures the selection's loudness, decoded at the rate and channels given, and gives
    // the whole steps of an MP3's global gain that bring it nearest the target the true
    // peak allows; *summary says what was measured and the steps.
    virtual Failure planGlobalGain(const Selection& selection, int sampleRate, int channels,
                                   const processing::Shaping& shaping, const CopyHooks& hooks, int* steps,
                                   QString* summary) = 0;
    // Decodes the selection at the output's rate and channels, finishes it and encodes it
    // into output; *report gets the piece's shortfalls.
    virtual Failure encode(const Selection& selection, const ExportPlan& plan, PendingOutputFile& output,
                           const CopyHooks& hooks, ExportReport* report) = 0;
};

// The work that needs the audio libraries.
class Codecs {
public:
    virtual ~Codecs() = default;
    virtual Result<std::unique_ptr<DecodedSource>> open(const QString& path) const = 0;
    virtual bool hasEncoder(const char* name) const = 0;
};

class CutPipeline {
public:
    // codecs (may be null, see above) must outlive the pipeline.
    explicit CutPipeline(const Codecs* codecs);
    ~CutPipeline();
    CutPipeline(const CutPipeline&) = delete;
    CutPipeline& operator=(const CutPipeline&) = delete;

    // Refuses at once, with the system's reason, an input that is not a regular file.
    static Failure checkInput(const QString& path);
    // Opens the input anew and holds all of it; a failure leaves no sound held. Without
    // codecs, the same unchanged MP3 loaded again (a batch's next cut from it, such as the
    // next track of a cue sheet) keeps its frame index and the walk the index has made.
    Failure load(const QString& path, const CutHooks& hooks);
    void unload();
    bool holdsSound() const;
    bool hasCodecs() const { return codecs_ != nullptr; }
    // Keeps `range` of the piece held so far, counted from its start; an end at or past
    // its end keeps it to its end.
    Failure crop(const SampleRange& range, const CutHooks& hooks);
    bool selectionEmpty() const { return selection_.empty; }
    // Checks the export settings and decides how the output is written, before anything is.
    Failure planExport(const OutputFormatSettings& format, int sampleRate, int channels, const QString& outputPath,
                       const Finish& finish, ExportPlan* plan, ExportReport* report) const;
    // Writes the held piece as planned, copying the source's encoded frames where the
    // settings allow it, else encoding anew.
    Failure exportTo(const ExportPlan& plan, const CutHooks& hooks, ExportReport* report);

private:
    // nullopt: the piece is to be encoded instead (report->reason says why).
    std::optional<Failure> copy(const ExportPlan& plan, PendingOutputFile& output, const CopyHooks& hooks,
                                ExportReport* report);
    // *loudness: what normalizing a copied MP3 measured and the steps of gain it got.
    Failure copyPiece(const ExportPlan& plan, int64_t begin, int64_t end, PendingOutputFile& output,
                      const CopyHooks& hooks, QString* loudness);
    Failure write(const ExportPlan& plan, PendingOutputFile& output, const CutHooks& hooks, ExportReport* report);

    const Codecs* codecs_;
    QString path_;
    std::unique_ptr<DecodedSource> decoded_;  // with codecs
    std::unique_ptr<mp3::Mp3FrameIndex> walked_;  // without codecs: the MP3's frames
    std::pair<uintmax_t, int64_t> walkedFile_{};  // its size and modification time
    decode::SourceInfo source_;
    int64_t workingLength_ = 0;
    Selection selection_;
    QString emptySelectionReason_;  // why the selection is empty, once it is
};

// The whole cut: load, crop, export.
CutReport runCut(const CutRequest& request, const Codecs* codecs, const CutHooks& hooks);
// The same with a pipeline that may have cut from the same file before.
CutReport runCut(CutPipeline& pipeline, const CutRequest& request, const CutHooks& hooks);

}  // namespace clipwren::soundeditor
