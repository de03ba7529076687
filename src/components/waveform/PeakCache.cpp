#include "components/waveform/PeakCache.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QtEndian>
#include <cstring>

namespace clipwren::waveform {

namespace {

constexpr char kMagic[8] = {'C', 'L', 'W', 'R', 'P', 'E', 'A', 'K'};
constexpr quint32 kFormatVersion = 1;
constexpr int kDigestBytes = 16;  // MD5 of everything before it
const QString kSuffix = QStringLiteral(".peaks");

// What ties an entry to one state of one file.
struct FileKey {
    QString path;
    qint64 size = -1;
    qint64 modifiedMs = 0;
};

std::optional<FileKey> keyOf(const QString& audioPath) {
    const QFileInfo info(audioPath);
    if (!info.isFile()) return std::nullopt;
    const QString canonical = info.canonicalFilePath();
    return FileKey{canonical.isEmpty() ? info.absoluteFilePath() : canonical, info.size(),
                   info.lastModified().toMSecsSinceEpoch()};
}

QDataStream& header(QDataStream& out, const FileKey& key, const PeakEnvelope& envelope) {
    out.writeRawData(kMagic, sizeof kMagic);
    out << kFormatVersion << key.path << key.size << key.modifiedMs << qint32(envelope.sampleRate)
        << qint64(envelope.frames) << qint32(kFramesPerPeak) << quint32(envelope.peaks.size());
    return out;
}

QByteArray digest(const char* data, qsizetype size) {
    return QCryptographicHash::hash(QByteArrayView(data, size), QCryptographicHash::Md5);
}

}  // namespace

PeakCache::PeakCache(QString folder, qint64 limitBytes) : folder_(std::move(folder)), limitBytes_(limitBytes) {}

QString PeakCache::defaultFolder() {
    const QString base = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    return base.isEmpty() ? QString() : QDir(base).filePath(QStringLiteral("waveforms"));
}

QString PeakCache::entryPath(const QString& audioPath) const {
    const auto key = keyOf(audioPath);
    const QString name = key ? key->path : QFileInfo(audioPath).absoluteFilePath();
    return QDir(folder_).filePath(
        QString::fromLatin1(QCryptographicHash::hash(name.toUtf8(), QCryptographicHash::Sha1).toHex()) + kSuffix);
}

std::optional<PeakEnvelope> PeakCache::find(const QString& audioPath) const {
    const auto key = keyOf(audioPath);
    if (folder_.isEmpty() || !key) return std::nullopt;
    QFile file(entryPath(audioPath));
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    const QByteArray bytes = file.readAll();
    if (bytes.size() <= kDigestBytes ||
        digest(bytes.constData(), bytes.size() - kDigestBytes) != bytes.right(kDigestBytes))
        return std::nullopt;

    QDataStream in(bytes);
    in.setByteOrder(QDataStream::LittleEndian);
    char magic[sizeof kMagic] = {};
    FileKey stored;
    quint32 version = 0, count = 0;
    qint32 rate = 0, framesPerPeak = 0;
    qint64 frames = 0;
    in.readRawData(magic, sizeof magic);
    in >> version;
    if (in.status() != QDataStream::Ok || memcmp(magic, kMagic, sizeof kMagic) != 0 || version != kFormatVersion)
        return std::nullopt;
    in >> stored.path >> stored.size >> stored.modifiedMs >> rate >> frames >> framesPerPeak >> count;
    if (in.status() != QDataStream::Ok || stored.path != key->path || stored.size != key->size ||
        stored.modifiedMs != key->modifiedMs || rate <= 0 || frames < 0 || framesPerPeak != kFramesPerPeak)
        return std::nullopt;
    PeakEnvelope envelope(rate, frames);
    const qsizetype dataBytes = qsizetype(count) * qsizetype(sizeof(Peak));
    if (envelope.peaks.size() != count || in.device()->pos() + dataBytes + kDigestBytes != bytes.size())
        return std::nullopt;
    qFromLittleEndian<qint16>(bytes.constData() + in.device()->pos(), qsizetype(count) * 2, envelope.peaks.data());
    // Counts as used now, so the size limit drops entries that were not.
    file.setFileTime(QDateTime::currentDateTimeUtc(), QFileDevice::FileModificationTime);
    return envelope;
}

bool PeakCache::store(const QString& audioPath, const PeakEnvelope& envelope) const {
    const auto key = keyOf(audioPath);
    if (folder_.isEmpty() || !key || !QDir().mkpath(folder_)) return false;
    QByteArray bytes;
    {
        QDataStream out(&bytes, QIODevice::WriteOnly);
        out.setByteOrder(QDataStream::LittleEndian);
        header(out, *key, envelope);
    }
    const qsizetype headerBytes = bytes.size();
    bytes.resize(headerBytes + qsizetype(envelope.peaks.size() * sizeof(Peak)));
    qToLittleEndian<qint16>(envelope.peaks.data(), qsizetype(envelope.peaks.size()) * 2, bytes.data() + headerBytes);
    bytes += digest(bytes.constData(), bytes.size());

    QSaveFile file(entryPath(audioPath));
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) return false;
    trim();
    return true;
}

void PeakCache::trim() const {
    const QFileInfoList entries = QDir(folder_).entryInfoList({QLatin1Char('*') + kSuffix}, QDir::Files,
                                                              QDir::Time | QDir::Reversed);
    qint64 total = 0;
    for (const QFileInfo& entry : entries) total += entry.size();
    for (const QFileInfo& oldest : entries) {
        if (total <= limitBytes_) break;
        if (QFile::remove(oldest.filePath())) total -= oldest.size();
    }
}

}  // namespace clipwren::waveform
