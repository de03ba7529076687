#pragma once
// A step with a file that failed, told the way Unix tools tell it: the file, then the
// system's own words for what went wrong ("Permission denied").
#include <QString>
#include <optional>

namespace clipwren {

// The system's text for an errno value, such as "No space left on device".
QString SystemErrorText(int systemError);
// "path: reason"; the path alone when systemError is 0.
QString FileFailureText(const QString& path, int systemError);
// "path: reason"; the path alone when there is no reason.
QString FileFailureText(const QString& path, const std::optional<QString>& reason);

}  // namespace clipwren
