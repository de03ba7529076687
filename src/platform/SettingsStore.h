#pragma once
// The per-user settings store: values addressed by application name, section and key.
#include <QString>

namespace clipwren::platform {

// The application name the window program stores its settings under: its
// executable's base name. The command-line companion reads the same store.
inline constexpr const char* kProgramSettingsName = "clipwren";

// Reading an absent key yields defaultValue; a present empty value stays empty.
QString GetSetting(const QString& appName, const QString& section, const QString& key,
                   const QString& defaultValue);
void SaveSetting(const QString& appName, const QString& section, const QString& key, const QString& value);

}  // namespace clipwren::platform
