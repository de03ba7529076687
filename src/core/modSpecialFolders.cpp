#include "core/modSpecialFolders.h"

#include <QDir>
#include <QStandardPaths>
#include <optional>

namespace clipwren {

namespace {

std::optional<QStandardPaths::StandardLocation> locationOf(int32_t folder) {
    switch (folder) {
    case csidl::Desktop:
    case csidl::DesktopDirectory: return QStandardPaths::DesktopLocation;
    case csidl::Personal: return QStandardPaths::DocumentsLocation;
    case csidl::MyMusic: return QStandardPaths::MusicLocation;
    case csidl::AppData: return QStandardPaths::GenericDataLocation;
    default: return std::nullopt;
    }
}

}  // namespace

QString GetSpecialFolderPath(int32_t folder) {
    const auto location = locationOf(folder);
    if (!location) return {};
    const QString path = QStandardPaths::writableLocation(*location);
    // cleanPath drops a trailing separator (a root keeps its own).
    return path.isEmpty() ? QString() : QDir::toNativeSeparators(QDir::cleanPath(path));
}

QString GetMyDocumentsFolder() { return GetSpecialFolderPath(csidl::Personal); }

}  // namespace clipwren
