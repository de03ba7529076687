#pragma once
// The sound editor component: loads a sound, crops it to a range and exports it in
// the encoding its OutputFormat asks for. Long operations run on a worker thread;
// their progress and completion events arrive through the event loop of the thread
// that owns the editor, always after the call that started them has returned.
#include "components/processing/PieceShaping.h"

#include <QObject>
#include <QStringList>
#include <QString>
#include <cstdint>
#include <memory>

class QWidget;

namespace clipwren {

struct DefaultOptionGroup { int32_t Mode = 1; };
struct Mp3OptionGroup { int32_t Mode = 1; int32_t BitRate = 128000; };
struct WmaOptionGroup { int32_t Mode = 1; int32_t BitRate = 128000; };
struct OggOptionGroup { int32_t Mode = 0; int16_t Quality = 4; };
struct AacOptionGroup { int32_t Mode = 0; bool Mp4Container = false; int16_t Quality = 100; };

// The values of OutputFormatSettings::FormatCode.
namespace format_code {
constexpr int32_t ByExtension = 1;
constexpr int32_t Mp3 = 2;
constexpr int32_t Wma = 3;
constexpr int32_t Ogg = 4;
constexpr int32_t Aac = 6;
// The source's own encoding, copied without decoding (MP3 to .mp3, AAC in MP4 to .m4a,
// .m4r or .mp4); the export fails where the piece cannot be copied. The other formats
// copy by themselves when their settings match the source's.
constexpr int32_t SourceEncoding = 7;
}  // namespace format_code

struct OutputFormatSettings {
    int32_t FormatCode = format_code::ByExtension;
    DefaultOptionGroup DefaultOptions;
    Mp3OptionGroup Mp3Options;
    WmaOptionGroup WmaOptions;
    OggOptionGroup OggOptions;
    AacOptionGroup AacOptions;
    // Where the output's settings are the source's (an MP3 to .mp3 at its rate, channels
    // and, for a constant bit rate, its bit rate; AAC in MP4 to an MP4 file), the source's
    // encoded frames are copied, exact to the sample, rather than encoded again. False
    // encodes anew always.
    bool CopyWhereAlike = true;
};

// How the last export made its file.
struct ExportReport {
    bool copied = false;  // the source's encoded frames were copied, not encoded anew
    QString reason;       // why they could not be, when they were not
    // What an encoded export could not give as asked; all zero when it gave the range
    // whole. How long the file is:
    int64_t writtenMs = 0;
    // The sound ended this long before the end of the range: the file is that much
    // shorter than asked (it holds only decoded audio, never made-up silence).
    int64_t missingMs = 0;
    // Damaged audio in the range, replaced by silence of its length.
    int64_t concealedMs = 0;
    // Packets that did not decode and were skipped.
    int64_t damagedPackets = 0;
    // What loudness normalization measured and the gain it gave, one line; empty when it
    // was not asked for.
    QString loudness;
    // One sentence for each way the file falls short of the range (lower-case, ends with a
    // full stop); none for an intact export.
    QStringList shortfalls() const;
};

class SoundEditor : public QObject {
    Q_OBJECT
public:
    explicit SoundEditor(QObject* parent = nullptr);
    // Cancels a running operation (removing its temporary file) and waits for the worker.
    ~SoundEditor() override;

    int32_t AttachWindow(QWidget* window);
    OutputFormatSettings& OutputFormat();

    // 0 = loading started; LoadCompleted follows. Negative code when it cannot start.
    int32_t OpenFile(const QString& path);
    int32_t LastErrorCode() const;
    // Of the same failure, where a file had a part in it: the file and, where the system
    // or the decoder gave one, its reason ("/music/ring.mp3: Permission denied",
    // "/music/ring.wav: the resampler cannot convert 80 channels ..."); else empty text.
    const QString& LastErrorDetail() const;
    // Keeps only beginMs..endMs of the loaded sound; CropCompleted follows.
    int32_t CropToRange(int32_t beginMs, int32_t endMs);
    // 0 = export started; ExportCompleted follows. Writes the sound the editor holds to
    // outputPath at sampleRate and channels, in the encoding of OutputFormat. The three
    // unnamed arguments are accepted as callers pass them (0, 0, -1) and not used.
    // outputPath "-" is standard output. A symbolic link is written through, a FIFO or
    // device straight into; the loaded file itself, a folder and a file the user may not
    // write are refused before anything is written.
    int32_t ExportFile(int32_t sampleRate, int32_t channels, int32_t, int32_t, int32_t,
                       const QString& outputPath);
    // The fades and loudness of the exports from now on: the piece "Play marked" plays.
    // A piece given any is encoded anew, never copied.
    void SetPieceShaping(const processing::Shaping& shaping);
    // Stops a running operation; its completion event still arrives, with a failure code
    // (err::UnknownError).
    void Cancel();
    // Of the last export, once its completion has arrived (or it failed to start).
    const ExportReport& LastExportReport() const;

signals:
    void LoadProgress(qint16 percent);
    // result: 0 on success, else the failure's error code (also in LastErrorCode).
    void LoadCompleted(qint32 result);
    void CropProgress(qint32 unused, qint16 percent);
    void CropCompleted(qint32 result, qint32 unused);
    void ExportProgress(qint32 percent);
    void ExportCompleted(qint32 result);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace clipwren
