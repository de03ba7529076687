#include "widgets/MyButton.h"

#include <QPainter>

namespace clipwren {

// Placeholder until the picture button lands.
MyButton::MyButton(QWidget* parent) : QAbstractButton(parent) {}
void MyButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawText(rect(), Qt::AlignCenter, text());
}

}  // namespace clipwren
