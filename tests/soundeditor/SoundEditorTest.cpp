// The editor end to end: load, crop and export real files in the background, with the
// results checked by the ffmpeg/ffprobe command line.
#include "SoundEditorTestUtil.h"
#include "components/files/LocalFileName.h"

#include <QFile>
#include <QTest>
#include <filesystem>

using namespace clipwren;
using namespace soundeditortest;

namespace {

// Records every event with whether the call that started its operation had returned.
struct EventLog {
    explicit EventLog(SoundEditor& editor) {
        auto record = [this](const char* name, int value) { events.push_back({name, value, callReturned}); };
        QObject::connect(&editor, &SoundEditor::LoadProgress, [=](qint16 p) { record("LoadProgress", p); });
        QObject::connect(&editor, &SoundEditor::LoadCompleted, [=](qint32 r) { record("LoadCompleted", r); });
        QObject::connect(&editor, &SoundEditor::CropProgress, [=](qint32, qint16 p) { record("CropProgress", p); });
        QObject::connect(&editor, &SoundEditor::CropCompleted, [=](qint32 r, qint32) { record("CropCompleted", r); });
        QObject::connect(&editor, &SoundEditor::ExportProgress, [=](qint32 p) { record("ExportProgress", p); });
        QObject::connect(&editor, &SoundEditor::ExportCompleted, [=](qint32 r) { record("ExportCompleted", r); });
    }
    struct Event {
        std::string name;
        int value;
        bool afterReturn;
    };
    int count(const std::string& name) const {
        return int(std::count_if(events.begin(), events.end(), [&](const Event& e) { return e.name == name; }));
    }
    std::vector<Event> events;
    bool callReturned = false;
};

struct OutputCase {
    const char* suffix;
    const char* codec;
    const char* container;  // first name of ffprobe's format_name
    int64_t bitRate;        // expected nominal bit rate, 0 when not checked
    // Decoded length: exactly the written length; or, where FFmpeg's decoder does not
    // apply the end of an MP4 edit list, the declared length (ffprobe's duration_ts) is
    // exact and the decoded one carries at most one AAC frame of padding; or, where the
    // container cannot trim (WMA, ADTS), the piece (at `shift`) followed by less than two
    // 2048-sample frames of near silence.
    enum class Length { Exact, DeclaredExact, Padded, Unchecked } length;
    // Where the click lands relative to where it was written. ADTS has no place for the
    // AAC encoder's 1024 priming samples.
    int shift;
    int tolerance;  // frames
    int32_t beginMs = 1000;
    int32_t endMs = 3000;
};

void PrintTo(const OutputCase& c, std::ostream* os) { *os << c.suffix; }

class EditorOutput : public SoundEditorTest, public ::testing::WithParamInterface<OutputCase> {};

TEST_P(EditorOutput, HasCodecContainerFormatAndTheClickInPlace) {
    const OutputCase c = GetParam();
    const QString path = dir.filePath(QStringLiteral("out") + c.suffix);
    // Noise keeps the encoders at their full bit rate; the click marks a known frame.
    const int64_t frames = framesAt(c.endMs) - framesAt(c.beginMs);
    // In a short piece the click sits near its end, where a piece cut short or faded out shows.
    const int64_t clickFrame = std::min<int64_t>(30011, frames - 9);
    auto samples = noise(kChannels, framesAt(4000), 0.3f);
    testsupport::addClick(samples, kChannels, framesAt(c.beginMs) + clickFrame, 0.95f);
    const QString source = dir.filePath("noise.wav");
    testsupport::writeWav(source, kRate, kChannels, samples);
    ASSERT_EQ(cut(source, c.beginMs, c.endMs, path), err::Ok);

    const auto probe = testsupport::ffprobe(path);
    EXPECT_EQ(probe.at("codec_name"), c.codec);
    EXPECT_EQ(QString::fromStdString(probe.at("format_format_name")).split(',').first().toStdString(), c.container);
    // Players find the format by probing; at a score this low FFmpeg may refuse the file or
    // mistake it for another format.
    EXPECT_GT(probeNumber(probe, "format_probe_score"), 25) << c.suffix;
    EXPECT_EQ(probe.at("sample_rate"), "44100");
    EXPECT_EQ(probe.at("channels"), "2");
    if (c.bitRate > 0) {
        const double rate = probeNumber(probe, "bit_rate") > 0 ? probeNumber(probe, "bit_rate")
                                                                : probeNumber(probe, "format_bit_rate");
        EXPECT_NEAR(rate, double(c.bitRate), c.bitRate * 0.1) << c.suffix;
    }
    const auto decoded = testsupport::ffmpegDecode(path);
    const int64_t decodedFrames = int64_t(decoded.size()) / kChannels;
    if (c.length == OutputCase::Length::Exact) {
        EXPECT_EQ(decodedFrames, frames) << c.suffix;
    } else if (c.length == OutputCase::Length::DeclaredExact) {
        EXPECT_EQ(declaredFrames(path), frames) << c.suffix;
        EXPECT_GE(decodedFrames, frames);
        EXPECT_LT(decodedFrames, frames + 1024);
    } else if (c.length == OutputCase::Length::Padded) {
        const int64_t pieceEnd = c.shift + frames;
        ASSERT_GE(decodedFrames, pieceEnd);
        EXPECT_LT(decodedFrames, pieceEnd + 2 * 2048);
        // Mean level of the decoded frames from..to: the padding is no sound from after the end mark.
        auto level = [&](int64_t from, int64_t to) {
            double sum = 0;
            for (int64_t i = from * kChannels; i < to * kChannels; ++i) sum += std::abs(int(decoded[size_t(i)]));
            return sum / double(std::max<int64_t>(1, (to - from) * kChannels));
        };
        EXPECT_LT(level(pieceEnd, decodedFrames), level(c.shift, pieceEnd) / 4);
    }
    EXPECT_NEAR(double(peakFrame(decoded, kChannels)), double(clickFrame + c.shift), c.tolerance) << c.suffix;
}

INSTANTIATE_TEST_SUITE_P(
    AllOutputs, EditorOutput,
    ::testing::Values(OutputCase{".wav", "pcm_s16le", "wav", 0, OutputCase::Length::Exact, 0, 0},
                      OutputCase{".mp3", "mp3", "mp3", 128000, OutputCase::Length::Exact, 0, 3},
                      OutputCase{".m4a", "aac", "mov", 256000, OutputCase::Length::DeclaredExact, 0, 3},
                      OutputCase{".mp4", "aac", "mov", 256000, OutputCase::Length::DeclaredExact, 0, 3},
                      OutputCase{".aac", "aac", "aac", 256000, OutputCase::Length::Unchecked, 1024, 3},
                      OutputCase{".ogg", "vorbis", "ogg", 128000, OutputCase::Length::Exact, 0, 3},
                      OutputCase{".wma", "wmav2", "asf", 128000, OutputCase::Length::Padded, 0, 3},
                      // Shorter than a 2048-sample WMA frame: at the sound's start, 1 ms, nearly a frame.
                      OutputCase{".wma", "wmav2", "asf", 0, OutputCase::Length::Padded, 0, 3, 0, 10},
                      OutputCase{".wma", "wmav2", "asf", 0, OutputCase::Length::Padded, 0, 3, 2000, 2001},
                      OutputCase{".wma", "wmav2", "asf", 0, OutputCase::Length::Padded, 0, 3, 1000, 1046},
                      // Shorter than an AAC frame: the edit list keeps the piece alone.
                      OutputCase{".m4a", "aac", "mov", 0, OutputCase::Length::DeclaredExact, 0, 3, 2000, 2010},
                      // One or two AAC frames: still enough ADTS frames for players to recognise the file.
                      OutputCase{".aac", "aac", "aac", 0, OutputCase::Length::Padded, 1024, 3, 2000, 2001},
                      OutputCase{".aac", "aac", "aac", 0, OutputCase::Length::Padded, 1024, 3, 2000, 2020},
                      OutputCase{".flac", "flac", "flac", 0, OutputCase::Length::Exact, 0, 0}),
    [](const auto& info) { return QString(info.param.suffix).mid(1).toStdString() + std::to_string(info.index); });

TEST_F(SoundEditorTest, WavCutHoldsExactlyTheRangeWithClicksInPlace) {
    const int64_t clickA = framesAt(1000) + 5000, clickB = framesAt(4000) - 1;
    const QString source = makeSource(kRate, kChannels, 10, {clickA, clickB});
    const QString output = dir.filePath("piece.wav");
    ASSERT_EQ(cut(source, 1000, 4000, output), err::Ok);
    EXPECT_EQ(editor.LastErrorCode(), err::Ok);

    const auto decoded = testsupport::ffmpegDecode(output);
    ASSERT_EQ(int64_t(decoded.size()) / kChannels, framesAt(4000) - framesAt(1000));
    EXPECT_EQ(testsupport::firstFrameAbove(decoded, kChannels, 20000), 5000);
    EXPECT_EQ(testsupport::firstFrameAbove(decoded, kChannels, 20000, 5001), framesAt(3000) - 1);
}

TEST_F(SoundEditorTest, EndPastTheLengthIsClampedAndCropsCompose) {
    const QString source = makeSource();
    const QString output = dir.filePath("tail.wav");
    ASSERT_EQ(cut(source, 8000, 99999, output), err::Ok);
    EXPECT_EQ(int64_t(testsupport::ffmpegDecode(output).size()) / kChannels, framesAt(10000) - framesAt(8000));

    // A second crop counts from the start of the piece the first one kept: 1000..5000, then
    // 500..1500 of that. Its export replaces the file the first one wrote.
    ASSERT_EQ(load(source), err::Ok);
    ASSERT_EQ(crop(1000, 5000), err::Ok);
    ASSERT_EQ(crop(500, 1500), err::Ok);
    ASSERT_EQ(exportTo(output), err::Ok);
    EXPECT_EQ(int64_t(testsupport::ffmpegDecode(output).size()) / kChannels, framesAt(2500) - framesAt(1500));
}

TEST_F(SoundEditorTest, EmptyOrInvertedRangeIsRefusedAtExportWithWhatIsWrong) {
    const QString output = dir.filePath("none.mp3");
    const struct {
        int32_t begin, end;
        const char* detail;
    } ranges[] = {{4000, 1000, "the end mark (1.000 s) is not after the begin mark (4.000 s)"},
                  {3000, 3000, "the end mark (3.000 s) is not after the begin mark (3.000 s)"},
                  {3000, 0, "the end mark (0.000 s) is not after the begin mark (3.000 s)"},
                  {10000, 12000, "the begin mark (10.000 s) lies at the end of the sound (10.000 s)"},
                  {25000, 30000, "the begin mark (25.000 s) lies after the end of the sound (10.000 s)"}};
    for (const auto& range : ranges) {
        ASSERT_EQ(load(makeSource()), err::Ok);
        EXPECT_EQ(crop(range.begin, range.end), err::Ok) << range.begin << ".." << range.end;
        EXPECT_EQ(editor.ExportFile(kRate, kChannels, 0, 0, -1, output), err::NoSelection);
        EXPECT_EQ(editor.LastErrorCode(), err::NoSelection);
        EXPECT_EQ(editor.LastErrorDetail(), range.detail);
    }
    EXPECT_FALSE(QFile::exists(output));
}

// A cut whose marks fall between output samples, from sources at other rates: the
// output is exactly round(b * 44100 / 1000)..round(e * 44100 / 1000) of what the ffmpeg
// command line makes of the whole source at 44100 Hz stereo.
struct ExactCase {
    int rate;
    int channels;
    const char* suffix;
    int tolerance;  // frames a click may move in the codec
};

void PrintTo(const ExactCase& c, std::ostream* os) { *os << c.rate << "Hz/" << c.channels << "ch" << c.suffix; }

class EditorExactCut : public SoundEditorTest, public ::testing::WithParamInterface<ExactCase> {};

TEST_P(EditorExactCut, HoldsExactlyTheRangeOfTheConvertedSource) {
    const ExactCase c = GetParam();
    const int32_t beginMs = 1234, endMs = 4321;
    const QString source = makeSource(c.rate, c.channels, 6, {2 * int64_t(c.rate) + 37});
    const QString output = dir.filePath(QStringLiteral("exact") + c.suffix);
    ASSERT_EQ(cut(source, beginMs, endMs, output), err::Ok);

    const auto probe = testsupport::ffprobe(output);
    // Players find the format by probing; at a score this low FFmpeg may refuse the file or
    // mistake it for another format.
    EXPECT_GT(probeNumber(probe, "format_probe_score"), 25) << c.suffix;
    EXPECT_EQ(probe.at("sample_rate"), "44100");
    EXPECT_EQ(probe.at("channels"), "2");
    const auto decoded = testsupport::ffmpegDecode(output);
    ASSERT_EQ(int64_t(decoded.size()) / kChannels, framesAt(endMs) - framesAt(beginMs));
    const auto reference = testsupport::ffmpegDecode(source, kRate, kChannels);
    EXPECT_NEAR(double(peakFrame(decoded, kChannels)), double(peakFrame(reference, kChannels) - framesAt(beginMs)),
                c.tolerance);
    if (c.channels == 1) {
        for (size_t i = 0; i < decoded.size(); i += 2) ASSERT_EQ(decoded[i], decoded[i + 1]) << "frame " << i / 2;
    }
}

INSTANTIATE_TEST_SUITE_P(RatesAndOutputs, EditorExactCut,
                         ::testing::Values(ExactCase{48000, 2, ".wav", 0}, ExactCase{48000, 2, ".mp3", 3},
                                           ExactCase{22050, 1, ".wav", 0}, ExactCase{22050, 1, ".mp3", 3}),
                         [](const auto& info) {
                             return std::to_string(info.param.rate) + "Hz" + std::to_string(info.param.channels) +
                                    "ch" + std::string(info.param.suffix + 1);
                         });

TEST_F(SoundEditorTest, ExportsAtTheRateAndChannelsItIsGiven) {
    const QString output = dir.filePath("low.wav");
    ASSERT_EQ(load(makeSource()), err::Ok);
    ASSERT_EQ(crop(1000, 2000), err::Ok);
    ASSERT_EQ(exportTo(output, 22050, 1), err::Ok);
    const auto probe = testsupport::ffprobe(output);
    EXPECT_EQ(probe.at("sample_rate"), "22050");
    EXPECT_EQ(probe.at("channels"), "1");
    EXPECT_EQ(int64_t(testsupport::ffmpegDecode(output).size()), framesAt(2000, 22050) - framesAt(1000, 22050));
}

TEST_F(SoundEditorTest, EventsArriveAfterTheCallReturnsWithOneCompletionEach) {
    const QString source = makeSource();
    EventLog log(editor);
    auto run = [&](auto start, void (SoundEditor::*completion)(qint32)) {
        QSignalSpy spy(&editor, completion);
        log.callReturned = false;
        const int32_t started = start();
        log.callReturned = true;
        ASSERT_EQ(started, err::Ok);
        ASSERT_TRUE(spy.wait(kWaitMs));
    };
    run([&] { return editor.OpenFile(source); }, &SoundEditor::LoadCompleted);
    log.callReturned = false;
    ASSERT_EQ(editor.CropToRange(1000, 3000), err::Ok);
    log.callReturned = true;
    QSignalSpy cropSpy(&editor, &SoundEditor::CropCompleted);
    ASSERT_TRUE(cropSpy.wait(kWaitMs));
    SetOutputFormatForPath(editor.OutputFormat(), dir.filePath("events.mp3"));
    run([&] { return editor.ExportFile(kRate, kChannels, 0, 0, -1, dir.filePath("events.mp3")); },
        &SoundEditor::ExportCompleted);
    QTest::qWait(200);  // room for a stray second completion to show up

    for (const auto& e : log.events) EXPECT_TRUE(e.afterReturn) << e.name;
    EXPECT_EQ(log.count("LoadCompleted"), 1);
    EXPECT_EQ(log.count("CropCompleted"), 1);
    EXPECT_EQ(log.count("ExportCompleted"), 1);
    EXPECT_GE(log.count("ExportProgress"), 1);
    // Progress comes before its completion and ends at 100.
    const auto lastExportProgress = std::find_if(log.events.rbegin(), log.events.rend(),
                                                 [](const auto& e) { return e.name == "ExportProgress"; });
    EXPECT_EQ(lastExportProgress->value, 100);
    EXPECT_EQ(log.events.back().name, "ExportCompleted");
    EXPECT_EQ(log.events.back().value, 0);
}

TEST_F(SoundEditorTest, RefusesWhatCannotStart) {
    EXPECT_EQ(editor.OpenFile(""), err::InvalidSoundFile);
    EXPECT_EQ(editor.LastErrorCode(), err::InvalidSoundFile);
    EXPECT_EQ(editor.OpenFile(dir.filePath("missing.wav")), err::InvalidSoundFile);
    EXPECT_EQ(editor.CropToRange(0, 1000), err::EditorEmpty);
    EXPECT_EQ(editor.ExportFile(kRate, kChannels, 0, 0, -1, dir.filePath("x.wav")), err::EditorEmpty);

    const QString source = makeSource();
    ASSERT_EQ(editor.OpenFile(source), err::Ok);
    // One operation at a time.
    EXPECT_EQ(editor.CropToRange(0, 1000), err::EditorBusy);
    EXPECT_EQ(editor.OpenFile(source), err::EditorBusy);
    EXPECT_EQ(editor.LastErrorCode(), err::EditorBusy);
    QSignalSpy spy(&editor, &SoundEditor::LoadCompleted);
    ASSERT_TRUE(spy.wait(kWaitMs));
    ASSERT_EQ(spy.first().first().toInt(), err::Ok);

    editor.OutputFormat().FormatCode = 5;
    EXPECT_EQ(editor.ExportFile(kRate, kChannels, 0, 0, -1, dir.filePath("x.wav")), err::InvalidExportSettings);
    editor.OutputFormat().FormatCode = 1;
    EXPECT_EQ(editor.ExportFile(0, kChannels, 0, 0, -1, dir.filePath("x.wav")), err::InvalidExportSettings);
}

TEST_F(SoundEditorTest, FailedBackgroundLoadLeavesNoSound) {
    ASSERT_EQ(load(makeSource()), err::Ok);
    const QString garbage = dir.filePath("not-audio.mp3");
    QFile file(garbage);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(4096, 'x'));
    file.close();
    EventLog log(editor);
    EXPECT_EQ(load(garbage), err::InvalidSoundFile);
    EXPECT_EQ(log.count("LoadCompleted"), 1);
    EXPECT_EQ(editor.LastErrorCode(), err::InvalidSoundFile);
    // The earlier sound is gone too.
    EXPECT_EQ(editor.CropToRange(0, 1000), err::EditorEmpty);

    // Under a name that is not valid UTF-8 (Latin-1 on a UTF-8 system) the reason given is
    // still the decoder's, not a file that is not there.
    const QString latin1 = dir.filePath(clipwren::files::decodeFileName("d\xe9j\xe0.mp3"));
    QFile named;
    ASSERT_TRUE(clipwren::files::openLocalFile(named, latin1, QIODevice::WriteOnly | QIODevice::Truncate));
    named.write(QByteArray(4096, 'x'));
    named.close();
    EXPECT_EQ(load(latin1), err::InvalidSoundFile);
    EXPECT_TRUE(editor.LastErrorDetail().startsWith(latin1 + ": ")) << editor.LastErrorDetail().toStdString();
    EXPECT_FALSE(editor.LastErrorDetail().contains("No such file")) << editor.LastErrorDetail().toStdString();
    std::filesystem::remove(clipwren::files::fileSystemPath(latin1));  // Qt's own removal cannot find it
}

TEST_F(SoundEditorTest, OutputFolderIsCreatedWhenMissing) {
    const QString output = dir.filePath("My Ringtones/new/piece.mp3");
    ASSERT_EQ(cut(makeSource(), 0, 1000, output), err::Ok);
    EXPECT_EQ(testsupport::ffprobe(output).at("codec_name"), "mp3");
    EXPECT_EQ(filesIn(dir.filePath("My Ringtones/new")), QStringList{"piece.mp3"});
}

TEST_F(SoundEditorTest, FailedExportLeavesExistingFileAndNoTemporaryFile) {
    const QString source = makeSource();
    // A folder that cannot be made: its parent is a file.
    const QString blocker = dir.filePath("blocker");
    QFile(blocker).open(QIODevice::WriteOnly);
    EXPECT_EQ(cut(source, 0, 1000, blocker + "/out.wav"), err::FileCreationFailed);
    EXPECT_EQ(editor.LastErrorCode(), err::FileCreationFailed);

    // An encoder that refuses its settings, over an existing file.
    const QString existing = dir.filePath("keep/song.wma");
    QDir().mkpath(dir.filePath("keep"));
    QFile keep(existing);
    ASSERT_TRUE(keep.open(QIODevice::WriteOnly));
    keep.write("precious");
    keep.close();
    ASSERT_EQ(load(source), err::Ok);
    SetOutputFormatForPath(editor.OutputFormat(), existing);
    editor.OutputFormat().WmaOptions.BitRate = 1;
    EXPECT_EQ(waitFor(&SoundEditor::ExportCompleted, editor.ExportFile(kRate, kChannels, 0, 0, -1, existing)),
              err::EncoderNotAvailable);
    ASSERT_TRUE(keep.open(QIODevice::ReadOnly));
    EXPECT_EQ(keep.readAll(), "precious");
    EXPECT_EQ(filesIn(dir.filePath("keep")), QStringList{"song.wma"});
}

TEST_F(SoundEditorTest, CancelAndDestructionRemoveTheTemporaryFile) {
    const QString source = makeSource(kRate, kChannels, 120);
    const QString folder = dir.filePath("out");
    ASSERT_EQ(load(source), err::Ok);
    SetOutputFormatForPath(editor.OutputFormat(), folder + "/long.mp3");
    QSignalSpy done(&editor, &SoundEditor::ExportCompleted);
    ASSERT_EQ(editor.ExportFile(kRate, kChannels, 0, 0, -1, folder + "/long.mp3"), err::Ok);
    editor.Cancel();
    ASSERT_TRUE(done.wait(kWaitMs));
    EXPECT_NE(done.first().first().toInt(), err::Ok);
    EXPECT_TRUE(filesIn(folder).isEmpty());

    {
        SoundEditor doomed;
        QSignalSpy loaded(&doomed, &SoundEditor::LoadCompleted);
        ASSERT_EQ(doomed.OpenFile(source), err::Ok);
        ASSERT_TRUE(loaded.wait(kWaitMs));
        SetOutputFormatForPath(doomed.OutputFormat(), folder + "/long.ogg");
        QSignalSpy progress(&doomed, &SoundEditor::ExportProgress);
        ASSERT_EQ(doomed.ExportFile(kRate, kChannels, 0, 0, -1, folder + "/long.ogg"), err::Ok);
        ASSERT_TRUE(progress.wait(kWaitMs));
    }
    EXPECT_TRUE(filesIn(folder).isEmpty());
}

// Destroyed while loading or cropping: the worker is joined and the events it had
// already posted are dropped, not delivered to a dead editor.
TEST_F(SoundEditorTest, DestroyedWhileLoadingOrCropping) {
    const QString source = makeSource(kRate, kChannels, 60);
    for (bool cropping : {false, true}) {
        SCOPED_TRACE(cropping);
        auto doomed = std::make_unique<SoundEditor>();
        if (cropping) {
            QSignalSpy loaded(doomed.get(), &SoundEditor::LoadCompleted);
            ASSERT_EQ(doomed->OpenFile(source), err::Ok);
            ASSERT_TRUE(loaded.wait(kWaitMs));
            ASSERT_EQ(doomed->CropToRange(30000, 40000), err::Ok);
        } else {
            ASSERT_EQ(doomed->OpenFile(source), err::Ok);
        }
        doomed.reset();
        QTest::qWait(100);
    }
}

}  // namespace
