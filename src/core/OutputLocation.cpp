#include "core/OutputLocation.h"

#include <QDir>

#include "core/modPath.h"
#include "core/modSpecialFolders.h"

namespace clipwren {

std::unique_ptr<SettingsStore> OutputLocation::userStore() {
    return std::make_unique<IniSettingsStore>(QString::fromLatin1(kOrganisation), QString::fromLatin1(kApplication));
}

QString OutputLocation::defaultFolder() { return JoinPath(GetMyDocumentsFolder(), QStringLiteral("My Ringtones")); }

QString OutputLocation::storedFolder(const SettingsStore& store) {
    return store.value(QString::fromLatin1(kSection), QString::fromLatin1(kKey), defaultFolder());
}

void OutputLocation::storeFolder(SettingsStore& store, const QString& folder) {
    store.setValue(QString::fromLatin1(kSection), QString::fromLatin1(kKey), folder);
}

QString OutputLocation::defaultOutputPath(const QString& folder, const QString& inputPath) {
    // An empty folder would put the file at the root of the file system.
    return JoinPath(folder.isEmpty() ? defaultFolder() : folder, GetPathPart(inputPath, 2) + QStringLiteral("-part.mp3"));
}

}  // namespace clipwren
