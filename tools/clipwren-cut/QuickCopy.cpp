#include "QuickCopy.h"

#include <QCoreApplication>
#include <cstdio>

#include "components/decode/FrameCount.h"
#include "components/errors/modSoundErrDesc.h"
#include "components/soundeditor/OutputFormatForPath.h"
#include "components/soundeditor/PendingOutputFile.h"
#include "components/soundeditor/Selection.h"
#include "components/soundeditor/lossless/Mp3Cut.h"
#include "components/soundeditor/lossless/Mp3FrameIndex.h"
#include "core/CutJob.h"
#include "core/InterruptNotifier.h"

namespace clipwren::cut {

namespace {

namespace mp3 = soundeditor::mp3;
using soundeditor::kWorkingRate;

// The editor's length of a sound in milliseconds, that of its decode at the working rate.
int64_t workingLengthMs(int64_t frames, int rate) {
    return decode::framesToMs(decode::framesAtRate(frames, rate, kWorkingRate), kWorkingRate);
}

}  // namespace

std::optional<int> runQuickCopy(const CutRequest& request) {
    if (request.encodeAnew) return std::nullopt;
    OutputFormatSettings format;
    SetOutputFormatForPath(format, request.output);
    if (format.FormatCode != format_code::Mp3) return std::nullopt;
    // First the length, then, as the editor does, the frames of the piece.
    QString whyNot;
    const std::unique_ptr<mp3::Mp3FrameIndex> frames = mp3::Mp3FrameIndex::open(request.input, &whyNot);
    const std::optional<int64_t> length = frames ? frames->decodedLength() : std::nullopt;
    if (!length || *length <= 0) return std::nullopt;
    const int rate = frames->head().stream.sampleRate;
    const soundeditor::Selection selection =
        soundeditor::Selection{}.cropped(request.beginMs, request.endMs, workingLengthMs(*length, rate));
    const auto [begin, end] = selection.frames(rate, *length);
    if (selection.empty || end <= begin) return std::nullopt;
    const std::optional<mp3::Mp3Index> index = frames->framesForPiece(begin, end, &whyNot);
    if (!index || (!request.keepEncoding && mp3::settingsDiffer(*index, CutJob::kExportRate, CutJob::kExportChannels,
                                                                format.Mp3Options.BitRate)))
        return std::nullopt;

    // What may not be written the editor refuses and tells; a stream goes its way too, as
    // it could not take back what a copy failing here had put into it.
    soundeditor::OutputPlan plan;
    QString refusal;
    if (soundeditor::planOutput(request.output, request.input, false, &plan, &refusal) != err::Ok ||
        plan.kind != soundeditor::OutputPlan::Kind::ReplacedFile)
        return std::nullopt;
    InterruptNotifier interrupts;
    int interruptSignal = 0;
    QObject::connect(&interrupts, &InterruptNotifier::interrupted, [&interruptSignal](int signalNumber) {
        if (interruptSignal == 0) interruptSignal = signalNumber;
    });
    const auto interrupted = [&interruptSignal] {
        QCoreApplication::processEvents();
        return interruptSignal != 0;
    };
    soundeditor::PendingOutputFile output(plan, interrupted);
    if (output.open() != err::Ok) return std::nullopt;
    const soundeditor::CopyHooks hooks{{}, interrupted};
    const soundeditor::CopyResult copy = mp3::copyMp3(request.input, *index, begin, end, output, hooks);
    if (copy.status == soundeditor::CopyResult::Status::Cancelled) {
        std::fputs("clipwren-cut: Cancelled.\n", stderr);
        return 128 + interruptSignal;
    }
    // Anything amiss: the editor tries and tells.
    if (copy.status != soundeditor::CopyResult::Status::Copied || output.commit() != err::Ok) return std::nullopt;
    if (request.verbose) std::fputs("clipwren-cut: copied without encoding again\n", stderr);
    return 0;
}

}  // namespace clipwren::cut
