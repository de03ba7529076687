#include "CueSheet.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QtEndian>
#include <memory>

extern "C" {
#include <libcue.h>
}

#include "components/files/LocalFileName.h"

namespace clipwren::cut {

namespace {

constexpr int kCdFramesPerSecond = 75;
constexpr int kMaxTracks = 99;
// A sheet of 99 tracks with long titles takes some 30 KB; a larger file is something else
// (an album image given in its place) and is not read whole.
constexpr qint64 kMaxSheetBytes = 1024 * 1024;
// Below the 255 bytes most file systems allow a name, leaving room for the extension.
constexpr qsizetype kMaxNameBytes = 200;

struct CdDelete {
    void operator()(Cd* cd) const { cd_delete(cd); }
};

// Sheets come in UTF-8 or, from older rippers, in Latin-1.
QString textOf(const char* text) {
    if (!text) return QString();
    const QByteArrayView bytes(text);
    return (bytes.isValidUtf8() ? QString::fromUtf8(bytes) : QString::fromLatin1(bytes)).trimmed();
}

QString cdText(Cdtext* cdtext, Pti what) { return cdtext ? textOf(cdtext_get(what, cdtext)) : QString(); }

// The tracks keep the image's encoding: an MP3 stays MP3, AAC in MP4 becomes .m4a, both
// copied whatever their bit rate unless --reencode; anything else (WAV, FLAC, APE...)
// becomes WAV, which loses nothing either.
QString extensionFor(const QString& image, CutRequest* options) {
    const QString suffix = QFileInfo(image).suffix().toLower();
    const bool mp3 = suffix == QLatin1String("mp3");
    const bool aac = suffix == QLatin1String("m4a") || suffix == QLatin1String("mp4") || suffix == QLatin1String("m4b");
    if (mp3 || (aac && !options->encodeAnew)) {
        options->keepEncoding = !options->encodeAnew;
        return mp3 ? QStringLiteral("mp3") : QStringLiteral("m4a");
    }
    return QStringLiteral("wav");
}

// A FLAC file's cue sheet, as the CUESHEET tag of its Vorbis comment holds it (where
// taggers put it); empty when it holds none, nullopt when the file is no FLAC. The binary
// CUESHEET block that `flac --cuesheet` writes carries no titles and is not read.
std::optional<QByteArray> embeddedCueSheet(QFile& file) {
    constexpr int kVorbisComment = 4;
    if (file.read(4) != "fLaC") return std::nullopt;
    const auto little = [](const QByteArray& bytes, qsizetype at) {
        return at + 4 <= bytes.size() ? qFromLittleEndian<quint32>(bytes.constData() + at) : quint32(0);
    };
    for (bool last = false; !last;) {
        const QByteArray header = file.read(4);
        if (header.size() < 4) return {};
        last = (header[0] & 0x80) != 0;
        const qint64 length = qFromBigEndian<quint32>(header.constData()) & 0xFFFFFF;
        if ((header[0] & 0x7F) != kVorbisComment) {
            if (!file.seek(file.pos() + length)) return {};
            continue;
        }
        const QByteArray block = file.read(length);
        qsizetype at = 4 + qsizetype(little(block, 0));
        const quint32 count = little(block, at);
        at += 4;
        for (quint32 i = 0; i < count && at + 4 <= block.size(); ++i) {
            const qsizetype size = little(block, at);
            const QByteArray comment = block.mid(at + 4, size);
            if (comment.left(9).toUpper() == "CUESHEET=") return comment.mid(9);
            at += 4 + size;
        }
        return {};
    }
    return {};
}

}  // namespace

QString trackFileName(int number, const QString& performer, const QString& title) {
    QStringList parts{QStringLiteral("%1").arg(number, 2, 10, QLatin1Char('0'))};
    if (!performer.isEmpty()) parts << performer;
    parts << (title.isEmpty() ? QStringLiteral("Track %1").arg(number) : title);
    QString name;
    for (const QChar c : parts.join(QStringLiteral(" - ")))
        name += c.unicode() < 0x20 || QStringLiteral("/\\:*?\"<>|").contains(c) ? QChar(u'_') : c;
    while (name.toUtf8().size() > kMaxNameBytes) name.chop(1);
    // Windows drops trailing dots and spaces; a leading dot would hide the file.
    while (name.endsWith(QLatin1Char('.')) || name.endsWith(QLatin1Char(' '))) name.chop(1);
    if (name.startsWith(QLatin1Char('.'))) name[0] = QLatin1Char('_');
    return name;
}

std::vector<ListedCut> cutsOfCueSheet(const BatchRequest& request, QString* error) {
    QFile file(request.cueSheet);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: %2").arg(request.cueSheet, file.errorString());
        return {};
    }
    // A FLAC file may carry its own sheet; its FILE lines then name the file as it was
    // before, and every track is of the FLAC itself.
    const std::optional<QByteArray> embedded = embeddedCueSheet(file);
    const QString embeddingFile = embedded ? QFileInfo(request.cueSheet).fileName() : QString();
    if (!embedded) file.seek(0);
    // The parser wants the last line ended, which a tag's value seldom is.
    if (!embedded && file.size() > kMaxSheetBytes) {
        *error = QStringLiteral("%1: not a cue sheet (%2 bytes)").arg(request.cueSheet).arg(file.size());
        return {};
    }
    const QByteArray text = (embedded ? *embedded : file.readAll()) + '\n';
    // A disc holds at most 99 tracks. The parser would put every later one in the 99th's
    // place (and lose the memory of those it drops), so such a sheet is not given to it.
    if (const qsizetype listed = QString::fromLatin1(text).count(QRegularExpression(
            QStringLiteral("(^|\\n)\\s*TRACK\\s"), QRegularExpression::CaseInsensitiveOption));
        listed > kMaxTracks) {
        *error = QStringLiteral("%1: lists %2 tracks, more than the %3 a cue sheet can hold")
                     .arg(request.cueSheet)
                     .arg(listed)
                     .arg(kMaxTracks);
        return {};
    }
    const std::unique_ptr<Cd, CdDelete> cd(embedded && embedded->isEmpty() ? nullptr : cue_parse_string(text.constData()));
    const int tracks = cd ? cd_get_ntrack(cd.get()) : 0;
    if (tracks < 1) {
        *error = QStringLiteral("%1: not a cue sheet, or one without a track").arg(request.cueSheet);
        return {};
    }
    const QDir sheetFolder = QFileInfo(request.cueSheet).absoluteDir();
    const QDir outputFolder(request.outputFolder.isEmpty() ? sheetFolder.path() : request.outputFolder);
    const QString albumPerformer = cdText(cd_get_cdtext(cd.get()), PTI_PERFORMER);
    const QString album = cdText(cd_get_cdtext(cd.get()), PTI_TITLE);

    std::vector<ListedCut> cuts;
    for (int i = 1; i <= tracks; ++i) {
        Track* track = cd_get_track(cd.get(), i);
        const QString image = !embedded ? files::decodeFileName(QByteArray(track_get_filename(track)))
                                                      : embeddingFile;
        Track* next = i < tracks ? cd_get_track(cd.get(), i + 1) : nullptr;
        const bool nextInSameFile =
            next && QByteArray(track_get_filename(next)) == QByteArray(track_get_filename(track));
        const bool firstInFile =
            i == 1 || QByteArray(track_get_filename(cd_get_track(cd.get(), i - 1))) != track_get_filename(track);
        ListedCut cut;
        cut.name = QStringLiteral("track %1").arg(i);
        CutRequest& cutRequest = cut.request;
        cutRequest = request.options;
        cutRequest.input = sheetFolder.filePath(image);
        const long begin = firstInFile ? 0 : track_get_index(track, 1);
        const long end = nextInSameFile ? track_get_index(next, 1) : -1;
        cutRequest.range = {begin, end < 0 ? std::nullopt : std::optional<int64_t>(end), kCdFramesPerSecond};
        if (begin < 0 || (end >= 0 && end <= begin))
            cut.error = QStringLiteral("its INDEX 01 is missing or not after the track before's");
        Cdtext* text = track_get_cdtext(track);
        const QString performer = cdText(text, PTI_PERFORMER);
        const QString title = cdText(text, PTI_TITLE);
        const QString name = trackFileName(i, performer.isEmpty() ? albumPerformer : performer, title);
        // Every field the sheet gives, and a title in any case, so that none of the
        // image's (its title) is left to name the track.
        for (const auto& [field, value] : {std::pair{"title", title.isEmpty() ? QStringLiteral("Track %1").arg(i) : title}, {"artist", performer.isEmpty() ? albumPerformer : performer},
                                           {"album", album}, {"album_artist", albumPerformer},
                                           {"track", QStringLiteral("%1/%2").arg(i).arg(tracks)}})
            if (!value.isEmpty()) cutRequest.tags.emplace_back(field, value.toUtf8());
        cutRequest.output = outputFolder.filePath(name + QLatin1Char('.') + extensionFor(image, &cutRequest));
        cuts.push_back(std::move(cut));
    }
    return cuts;
}

}  // namespace clipwren::cut
