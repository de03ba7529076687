#pragma once
// The per-user settings store: values addressed by section and key, inside the store
// of one application.
#include <QString>

namespace clipwren {

class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    // Reading an absent key yields defaultValue; a present empty value stays empty.
    virtual QString value(const QString& section, const QString& key, const QString& defaultValue) const = 0;
    virtual void setValue(const QString& section, const QString& key, const QString& value) = 0;
};

// Values kept in an INI file.
class IniSettingsStore : public SettingsStore {
public:
    // The user's store of an application: one file per application name in the user's
    // configuration folder, under the organisation's folder.
    IniSettingsStore(const QString& organisation, const QString& application);
    // A store in a file of the caller's choice.
    explicit IniSettingsStore(QString filePath);

    QString value(const QString& section, const QString& key, const QString& defaultValue) const override;
    void setValue(const QString& section, const QString& key, const QString& value) override;
    const QString& filePath() const { return filePath_; }

private:
    QString filePath_;
};

}  // namespace clipwren
