#include "folderbrowser/modBrowseForFolderNew.h"

// Placeholder until the folder dialog lands: every call is a cancel.
namespace clipwren {
BrowseSettings& browseSettings() {
    static BrowseSettings settings;
    return settings;
}
QString BrowseForFolder() { return {}; }
}  // namespace clipwren
