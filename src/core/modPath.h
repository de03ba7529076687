#pragma once
// Small routines on path text. "\" and "/" both separate; "X:" drive forms keep
// their rules. None raises an error for ordinary input.
#include <QString>

namespace clipwren {

bool IsVersion5OrLater();
// The last name of a path; a root ("C:\", "/") is returned whole.
QString FolderNameOf(const QString& path);
// The text before the last separator: C:\Music\Rock gives C:\Music, C:\Music gives C:.
QString ParentFolderOf(const QString& path);
// True for an existing file or folder; false for empty text.
bool PathExists(const QString& path);
QString TrimAtNull(const QString& text);
// Cuts a path into parts, selector 1 to 10 (2: file name without extension).
QString GetPathPart(const QString& path, int selector);

// True for "\" and "/".
bool IsPathSeparator(QChar c);
// The text without one trailing separator, if it has one.
QString WithoutTrailingSeparator(const QString& path);
// folder + the platform's native separator + name.
QString JoinPath(const QString& folder, const QString& name);

}  // namespace clipwren
