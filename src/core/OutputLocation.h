#pragma once
// Where a cut goes unless the user says otherwise: the output folder the window keeps
// in its one setting, and the output file named after the input. One definition for
// the window and the command-line cutter, which reads the window's setting.
#include <QString>
#include <memory>

#include "core/SettingsStore.h"

namespace clipwren {

struct OutputLocation {
    // The store of the window program, named after its executable; the command-line
    // cutter reads the same store.
    static constexpr const char* kOrganisation = "Clipwren";
    static constexpr const char* kApplication = "clipwren";
    static constexpr const char* kSection = "Options";
    static constexpr const char* kKey = "OutputFolder";

    // The user's store of the window program.
    static std::unique_ptr<SettingsStore> userStore();

    // The folder used while none is stored: the documents folder, then "My Ringtones".
    static QString defaultFolder();
    // The stored output folder, or defaultFolder() when none is stored (a stored empty
    // value stays empty).
    static QString storedFolder(const SettingsStore& store);
    static void storeFolder(SettingsStore& store, const QString& folder);
    // The output file named after an input file: the folder (defaultFolder() for an empty
    // one), the input's base name, "-part.mp3".
    static QString defaultOutputPath(const QString& folder, const QString& inputPath);
};

}  // namespace clipwren
