#include "components/errors/FileFailure.h"

#include <system_error>

namespace clipwren {

QString SystemErrorText(int systemError) {
    // The generic category's message is strerror's text, without strerror's shared buffer.
    return QString::fromStdString(std::generic_category().message(systemError));
}

QString FileFailureText(const QString& path, int systemError) {
    return FileFailureText(path, systemError == 0 ? std::nullopt : std::optional(SystemErrorText(systemError)));
}

QString FileFailureText(const QString& path, const std::optional<QString>& reason) {
    return reason && !reason->isEmpty() ? path + QStringLiteral(": ") + *reason : path;
}

}  // namespace clipwren
