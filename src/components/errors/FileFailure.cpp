#include "components/errors/FileFailure.h"

#include <QFile>
#include <cerrno>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace clipwren {

QString SystemErrorText(int systemError) {
    // The generic category's message is strerror's text, without strerror's shared buffer.
    return QString::fromStdString(std::generic_category().message(systemError));
}

QString FileFailureText(const QString& path, int systemError) {
    return systemError == 0 ? path : path + QStringLiteral(": ") + SystemErrorText(systemError);
}

int WhyNotReadable(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    struct stat info {};
    if (::stat(name.constData(), &info) != 0) return errno;
    if (S_ISDIR(info.st_mode)) return EISDIR;
    return ::access(name.constData(), R_OK) == 0 ? 0 : errno;
}

}  // namespace clipwren
