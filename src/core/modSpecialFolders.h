#pragma once
// The user's special folders (documents, music, desktop, ...).
#include <QString>
#include <cstdint>

namespace clipwren {

// Special-folder numbers as the shell counts them.
namespace csidl {
constexpr int32_t Desktop = 0x0000;
constexpr int32_t Personal = 0x0005;  // the documents folder
constexpr int32_t MyMusic = 0x000d;
constexpr int32_t DesktopDirectory = 0x0010;
constexpr int32_t AppData = 0x001a;
}  // namespace csidl

// The file-system path of a special folder, without trailing separator, or empty
// text when the platform has none for that number.
QString GetSpecialFolderPath(int32_t folder);

// The user's documents folder, or empty text.
QString GetMyDocumentsFolder();

}  // namespace clipwren
