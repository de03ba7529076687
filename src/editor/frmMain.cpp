#include "editor/frmMain.h"

namespace clipwren {

// Placeholder until the window lands.
frmMain::frmMain(QWidget* parent) : QWidget(parent) { setWindowTitle(QStringLiteral("Clipwren Pro")); }

}  // namespace clipwren
