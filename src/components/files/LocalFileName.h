#pragma once
// File names as the file system holds them. On POSIX a name is any sequence of bytes,
// while Qt 6 reads names as UTF-8 and turns bytes that are not valid UTF-8 into U+FFFD:
// a Latin-1 "café.wav" on a UTF-8 system could be neither opened nor written through
// Qt's file classes. These helpers keep every byte: a byte that is not part of valid
// UTF-8 stands in the QString as the lone surrogate U+DC00 + byte (the scheme Python
// calls "surrogateescape"), and goes back to that byte on the way to the file system.
// Every other name is what QFile::encodeName and QFile::decodeName give.
#include <QByteArray>
#include <QFile>
#include <QString>
#include <filesystem>
#include <optional>

namespace clipwren::files {

QString decodeFileName(const QByteArray& bytes);
QByteArray encodeFileName(const QString& name);
// The name for the standard library's file system calls.
std::filesystem::path fileSystemPath(const QString& name);
// Opens `file` on the file of that name with `mode` (ReadOnly, or WriteOnly with
// Truncate): QFile's own open would look for the name with U+FFFD in it.
bool openLocalFile(QFile& file, const QString& name, QIODevice::OpenMode mode);
// Why the file of that name cannot be read as a sound file, for the user: the system's
// reason ("No such file or directory", "Permission denied", "Is a directory"), or what
// the name is instead of a file; nullopt for a readable regular file.
std::optional<QString> WhyNotReadable(const QString& name);
// "path: why" for a file that did not open as sound: why it cannot be read, else the
// decoder's reason (the path alone when there is none).
QString FailedSoundFileText(const QString& path, const QString& decoderReason);
// The FFmpeg URL of a file: its absolute path through the file protocol, so that a
// name such as "pipe:0" or "concat:a|b" is the file of that name.
QByteArray ffmpegFileUrl(const QString& name);

}  // namespace clipwren::files
