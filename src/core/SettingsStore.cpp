#include "core/SettingsStore.h"

#include <QSettings>

namespace clipwren {

namespace {
QString path(const QString& section, const QString& key) { return section + '/' + key; }
}  // namespace

IniSettingsStore::IniSettingsStore(const QString& organisation, const QString& application)
    : filePath_(QSettings(QSettings::IniFormat, QSettings::UserScope, organisation, application).fileName()) {}

IniSettingsStore::IniSettingsStore(QString filePath) : filePath_(std::move(filePath)) {}

QString IniSettingsStore::value(const QString& section, const QString& key, const QString& defaultValue) const {
    const QSettings store(filePath_, QSettings::IniFormat);
    const QVariant value = store.value(path(section, key));
    return value.isValid() ? value.toString() : defaultValue;
}

void IniSettingsStore::setValue(const QString& section, const QString& key, const QString& value) {
    QSettings store(filePath_, QSettings::IniFormat);
    store.setValue(path(section, key), value);
    store.sync();
}

}  // namespace clipwren
