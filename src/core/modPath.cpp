#include "core/modPath.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace clipwren {

namespace {

int lastSeparatorIndex(const QString& text) {
    return std::max(text.lastIndexOf(QLatin1Char('\\')), text.lastIndexOf(QLatin1Char('/')));
}

int firstSeparatorIndex(const QString& text, int from = 0) {
    for (int i = from; i < text.size(); ++i)
        if (IsPathSeparator(text[i])) return i;
    return -1;
}

bool hasDriveColon(const QString& text) { return text.size() >= 2 && text[1] == QLatin1Char(':'); }

bool isDriveRoot(const QString& text) {
    return text.size() == 3 && hasDriveColon(text) && IsPathSeparator(text[2]);
}

// A POSIX absolute path: the root "/" plays the part a drive root plays on Windows.
bool isPosixRooted(const QString& text) { return text.startsWith(QLatin1Char('/')); }

enum class PathClass { Unclassified, BareFileName, FolderWithTrailingSeparator, Drive, PathWithoutExtension, FullFilePath };

PathClass classify(const QString& text) {
    const int lastSep = lastSeparatorIndex(text);
    const int lastDot = text.lastIndexOf(QLatin1Char('.'));
    const bool hasSep = lastSep >= 0;
    const bool hasDot = lastDot >= 0;
    if (hasDot && !hasSep && !text.contains(QLatin1Char(':'))) return PathClass::BareFileName;
    // "C:\" is a drive, not a folder with a trailing separator; a POSIX "/a/" is a folder.
    if (hasSep && lastSep == text.size() - 1 && (text.size() > 3 || (isPosixRooted(text) && text.size() > 1)))
        return PathClass::FolderWithTrailingSeparator;
    if (isDriveRoot(text) || (text.size() == 2 && hasDriveColon(text)) || text == QLatin1String("/"))
        return PathClass::Drive;
    if (hasSep && lastDot < lastSep) return PathClass::PathWithoutExtension;
    if (hasDot && hasSep) return PathClass::FullFilePath;
    return PathClass::Unclassified;
}

QString lastNameOf(const QString& text) { return text.mid(lastSeparatorIndex(text) + 1); }

// The first name after the root: "Music" of C:\Music\song.mp3, "home" of /home/me.
// Without a separator after that name there is none.
QString topFolderName(const QString& path) {
    QString text = path;
    if (!hasDriveColon(text) && !(text.size() >= 1 && IsPathSeparator(text[0]))) text.prepend(QLatin1Char('\\'));
    text = text.mid(firstSeparatorIndex(text) + 1);
    const int next = firstSeparatorIndex(text);
    return next < 0 ? QString() : text.left(next);
}

QString folderPart(const QString& path, PathClass pathClass) {
    switch (pathClass) {
        case PathClass::BareFileName:
        case PathClass::Drive:
            return path;
        case PathClass::FolderWithTrailingSeparator:
            return path.chopped(1);
        case PathClass::PathWithoutExtension:
        case PathClass::FullFilePath: {
            const QString folder = path.left(lastSeparatorIndex(path));
            // A file right under the POSIX root lies in "/", not in an unnamed folder.
            return folder.isEmpty() && isPosixRooted(path) ? QStringLiteral("/") : folder;
        }
        case PathClass::Unclassified:
            break;
    }
    return {};
}

}  // namespace

bool IsPathSeparator(QChar c) { return c == QLatin1Char('\\') || c == QLatin1Char('/'); }

QString WithoutTrailingSeparator(const QString& path) {
    return !path.isEmpty() && IsPathSeparator(path.back()) ? path.chopped(1) : path;
}

QString JoinPath(const QString& folder, const QString& name) { return folder + QDir::separator() + name; }

// Every platform this program runs on has the modern look of version 5 and later.
bool IsVersion5OrLater() { return true; }

QString FolderNameOf(const QString& path) {
    if (isDriveRoot(path) || path == QLatin1String("/")) return path;
    return lastNameOf(path);
}

QString ParentFolderOf(const QString& path) {
    const int lastSep = lastSeparatorIndex(path);
    return lastSep < 0 ? QString() : path.left(lastSep);
}

bool PathExists(const QString& path) {
    if (path.endsWith(QLatin1String(":\\")) || path.endsWith(QLatin1String(":/"))) {
        // A drive root counts when its letter is one of the machine's drives, however many there are.
        const QChar letter = path[0].toUpper();
        const QFileInfoList drives = QDir::drives();
        return std::any_of(drives.begin(), drives.end(), [letter](const QFileInfo& drive) {
            const QString root = drive.absoluteFilePath();
            return hasDriveColon(root) && root[0].toUpper() == letter;
        });
    }
    if (path.isEmpty()) return false;
    return QFileInfo::exists(path);
}

QString TrimAtNull(const QString& text) {
    const int nul = text.indexOf(QChar(0));
    return nul < 0 ? text : text.left(nul);
}

QString GetPathPart(const QString& path, int selector) {
    const PathClass pathClass = classify(path);
    if (pathClass == PathClass::Unclassified) return {};
    const int lastSep = lastSeparatorIndex(path);
    const int lastDot = path.lastIndexOf(QLatin1Char('.'));
    const bool isBare = pathClass == PathClass::BareFileName;
    const bool isTrailing = pathClass == PathClass::FolderWithTrailingSeparator;
    const bool isFull = pathClass == PathClass::FullFilePath;
    const bool isFileLike = pathClass == PathClass::PathWithoutExtension || isFull;

    switch (selector) {
        case 1:  // file name
            if (isBare) return path;
            return isFileLike ? path.mid(lastSep + 1) : QString();
        case 2:  // file name without extension
            if (isBare) return path.left(lastDot);
            if (isFull) return path.mid(lastSep + 1, lastDot - lastSep - 1);
            return isFileLike ? path.mid(lastSep + 1) : QString();
        case 3:  // extension
            return isBare || isFull ? path.mid(lastDot + 1) : QString();
        case 4: {  // folder
            const QString folder = folderPart(path, pathClass);
            return folder.startsWith(QLatin1Char('\\')) ? folder.mid(1) : folder;
        }
        case 5:  // drive
            return !isBare && hasDriveColon(path) ? path.left(2) : QString();
        case 6:  // name of the holding folder
            return isTrailing || isFileLike ? lastNameOf(path.left(lastSep)) : QString();
        case 7:  // top folder name
            return isTrailing || isFileLike ? topFolderName(path) : QString();
        case 8:  // holding folder and file
            return isFileLike ? lastNameOf(path.left(lastSep)) + path[lastSep] + path.mid(lastSep + 1) : QString();
        case 9: {  // root and top folder
            if (!(isTrailing || isFileLike)) return {};
            if (hasDriveColon(path)) {
                const QString top = topFolderName(path);
                return top.isEmpty() ? QString() : path.left(3) + top;
            }
            if (isPosixRooted(path)) {
                const QString top = topFolderName(path);
                return top.isEmpty() ? QString() : QLatin1Char('/') + top;
            }
            return {};
        }
        case 10:  // whole path
            return path;
        default:
            return {};
    }
}

}  // namespace clipwren
