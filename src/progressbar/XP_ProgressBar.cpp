#include "progressbar/XP_ProgressBar.h"

namespace clipwren {

// Placeholder until the drawing lands.
XP_ProgressBar::XP_ProgressBar(QWidget* parent) : QWidget(parent) {}
void XP_ProgressBar::setValue(int32_t value) { mValue = value; update(); }

}  // namespace clipwren
