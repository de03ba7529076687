#include "components/files/LocalFileName.h"

#include "components/errors/FileFailure.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <sys/stat.h>

#include <unistd.h>
#ifndef Q_OS_WIN
#include <fcntl.h>
#endif

namespace clipwren::files {

#ifdef Q_OS_WIN
// Windows names are UTF-16 already: a QString holds every one of them.
QString decodeFileName(const QByteArray& bytes) { return QString::fromUtf8(bytes); }
QByteArray encodeFileName(const QString& name) { return name.toUtf8(); }
std::filesystem::path fileSystemPath(const QString& name) { return std::filesystem::path(name.toStdWString()); }
QByteArray ffmpegFileUrl(const QString& name) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(fileSystemPath(name), error);
    return "file:" + QString::fromStdWString(absolute.wstring()).toUtf8();
}
bool openLocalFile(QFile& file, const QString& name, QIODevice::OpenMode mode) {
    file.setFileName(name);
    return file.open(mode);
}
#else
namespace {

constexpr char16_t kEscapeBase = 0xDC00;
// Bytes below 0x80 are always valid UTF-8 on their own, so only these are escaped.
constexpr char16_t kFirstEscape = kEscapeBase + 0x80;
constexpr char16_t kLastEscape = kEscapeBase + 0xFF;

bool isEscape(QChar c) { return c.unicode() >= kFirstEscape && c.unicode() <= kLastEscape; }

// Length of the valid UTF-8 sequence at bytes[i], or 0 when there is none.
int validSequenceAt(const QByteArray& bytes, qsizetype i) {
    const auto byte = [&](qsizetype k) { return k < bytes.size() ? uchar(bytes[k]) : 0; };
    const uchar lead = byte(i);
    const auto continuation = [&](qsizetype k) { return (byte(k) & 0xC0) == 0x80; };
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) return continuation(i + 1) ? 2 : 0;
    if (lead >= 0xE0 && lead <= 0xEF) {
        const uchar second = byte(i + 1);
        // No overlong forms (E0 needs A0..BF) and no encoded surrogates (ED needs 80..9F).
        if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F)) return 0;
        return continuation(i + 1) && continuation(i + 2) ? 3 : 0;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        const uchar second = byte(i + 1);
        // No overlong forms (F0 needs 90..BF) and nothing past U+10FFFF (F4 needs 80..8F).
        if ((lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second > 0x8F)) return 0;
        return continuation(i + 1) && continuation(i + 2) && continuation(i + 3) ? 4 : 0;
    }
    return 0;
}

}  // namespace

QString decodeFileName(const QByteArray& bytes) {
    const QString plain = QFile::decodeName(bytes);
    if (QFile::encodeName(plain) == bytes) return plain;
    QString name;
    name.reserve(bytes.size());
    for (qsizetype i = 0; i < bytes.size();) {
        const int length = validSequenceAt(bytes, i);
        if (length > 0) {
            name += QString::fromUtf8(bytes.constData() + i, length);
            i += length;
        } else {
            name += QChar(char16_t(kEscapeBase + uchar(bytes[i])));
            ++i;
        }
    }
    return name;
}

QByteArray encodeFileName(const QString& name) {
    if (std::none_of(name.begin(), name.end(), isEscape)) return QFile::encodeName(name);
    QByteArray bytes;
    qsizetype runStart = 0;
    for (qsizetype i = 0; i <= name.size(); ++i) {
        if (i < name.size() && !isEscape(name[i])) continue;
        bytes += QStringView(name).mid(runStart, i - runStart).toUtf8();
        if (i < name.size()) bytes += char(name[i].unicode() - kEscapeBase);
        runStart = i + 1;
    }
    return bytes;
}

std::filesystem::path fileSystemPath(const QString& name) {
    return std::filesystem::path(encodeFileName(name).toStdString());
}

QByteArray ffmpegFileUrl(const QString& name) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(fileSystemPath(name), error);
    return "file:" + QByteArray::fromStdString(absolute.native());
}

bool openLocalFile(QFile& file, const QString& name, QIODevice::OpenMode mode) {
    const int flags = mode.testFlag(QIODevice::WriteOnly) ? O_WRONLY | O_CREAT | O_TRUNC : O_RDONLY;
    const int descriptor = ::open(encodeFileName(name).constData(), flags | O_CLOEXEC, 0666);
    if (descriptor < 0) return false;
    if (file.open(descriptor, mode, QFileDevice::AutoCloseHandle)) return true;
    ::close(descriptor);
    return false;
}
#endif

std::optional<QString> WhyNotReadable(const QString& name) {
    const QByteArray bytes = encodeFileName(name);
    struct stat info {};
    if (::stat(bytes.constData(), &info) != 0) return SystemErrorText(errno);
    if (S_ISDIR(info.st_mode)) return SystemErrorText(EISDIR);
    // A cut reads its file more than once (its length, then the piece) and a player seeks
    // in it: a pipe gives its bytes only once, and a device may give them without end
    // (/dev/zero) or none at all (/dev/null). Neither is opened, which could also wait
    // for a pipe's writer forever.
    if (S_ISFIFO(info.st_mode)) return QStringLiteral("a pipe: the program needs a file it can read twice");
    if (S_ISSOCK(info.st_mode)) return QStringLiteral("a socket, not a file");
    if (!S_ISREG(info.st_mode)) return QStringLiteral("a device, not a file");
    if (::access(bytes.constData(), R_OK) != 0) return SystemErrorText(errno);
    return std::nullopt;
}

QString FailedSoundFileText(const QString& path, const QString& decoderReason) {
    return FileFailureText(path, WhyNotReadable(path).value_or(decoderReason));
}

}  // namespace clipwren::files
