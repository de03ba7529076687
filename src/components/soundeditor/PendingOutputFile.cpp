#include "components/soundeditor/PendingOutputFile.h"

#include "components/errors/modSoundErrDesc.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>
#include <cstdio>

namespace clipwren::soundeditor {

PendingOutputFile::PendingOutputFile(const QString& finalPath) : finalPath_(finalPath) {}

PendingOutputFile::~PendingOutputFile() {
    if (!committed_ && !temporaryPath_.isEmpty()) QFile::remove(temporaryPath_);
}

int32_t PendingOutputFile::create() {
    const QFileInfo target(finalPath_);
    if (target.fileName().isEmpty() || target.isDir() || !QDir().mkpath(target.absolutePath()))
        return err::FileCreationFailed;
    // Same folder as the output, so the final rename never crosses file systems.
    QTemporaryFile reserved(target.absoluteFilePath() + QStringLiteral(".XXXXXX.part"));
    reserved.setAutoRemove(false);
    if (!reserved.open()) return err::FileCreationFailed;
    temporaryPath_ = reserved.fileName();
    return err::Ok;
}

int32_t PendingOutputFile::commit() {
    // A replaced file keeps its permissions; a new one gets the usual rw-r--r--
    // instead of the temporary file's owner-only mode.
    const QFileInfo existing(finalPath_);
    const QFile::Permissions permissions =
        existing.exists() ? existing.permissions()
                          : QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser |
                                QFile::ReadGroup | QFile::ReadOther;
    QFile::setPermissions(temporaryPath_, permissions);
    // rename() replaces an existing output in one step.
    if (std::rename(QFile::encodeName(temporaryPath_).constData(), QFile::encodeName(finalPath_).constData()) != 0)
        return err::FileCreationFailed;
    committed_ = true;
    return err::Ok;
}

}  // namespace clipwren::soundeditor
