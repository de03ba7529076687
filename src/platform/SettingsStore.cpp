#include "platform/SettingsStore.h"

#include <QSettings>

namespace clipwren::platform {

namespace {
// One INI file per application name in the user's configuration folder.
QSettings openStore(const QString& appName) {
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Clipwren"), appName);
}
QString path(const QString& section, const QString& key) { return section + '/' + key; }
}  // namespace

QString GetSetting(const QString& appName, const QString& section, const QString& key,
                   const QString& defaultValue) {
    const QSettings store = openStore(appName);
    const QVariant value = store.value(path(section, key));
    return value.isValid() ? value.toString() : defaultValue;
}

void SaveSetting(const QString& appName, const QString& section, const QString& key, const QString& value) {
    QSettings store = openStore(appName);
    store.setValue(path(section, key), value);
    store.sync();
}

}  // namespace clipwren::platform
