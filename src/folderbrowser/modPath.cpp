#include "folderbrowser/modPath.h"

// Placeholder until the path helpers land.
namespace clipwren {
bool IsVersion5OrLater() { return true; }
QString GetWindowTextAll(const QWidget*) { return {}; }
QString FolderNameOf(const QString&) { return {}; }
QString ParentFolderOf(const QString&) { return {}; }
bool PathExists(const QString&) { return false; }
QString TrimAtNull(const QString& text) { return text; }
QString GetPathPart(const QString&, int) { return {}; }
}  // namespace clipwren
