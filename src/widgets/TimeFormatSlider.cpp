#include "widgets/TimeFormatSlider.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QToolTip>

namespace clipwren {

TimeFormatSlider::TimeFormatSlider(Qt::Orientation orientation, QWidget* parent) : QSlider(orientation, parent) {
    setFocusPolicy(Qt::StrongFocus);
    connect(this, &QSlider::valueChanged, this, &TimeFormatSlider::updateTooltip);
}

void TimeFormatSlider::setTooltipFormatter(std::function<QString(int)> formatter) {
    formatter_ = std::move(formatter);
    updateTooltip(value());
}

void TimeFormatSlider::updateTooltip(int value) {
    if (!formatter_) return;
    const QString text = formatter_(value);
    setToolTip(text);
    if (userMoving_ && isVisible()) QToolTip::showText(QCursor::pos(), text, this);
}

int TimeFormatSlider::valueAt(const QPoint& point) const {
    QStyleOptionSlider option;
    initStyleOption(&option);
    const QRect groove = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, this);
    const QRect handle = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
    const bool horizontal = orientation() == Qt::Horizontal;
    const int span = horizontal ? groove.width() - handle.width() : groove.height() - handle.height();
    const int offset = horizontal ? point.x() - groove.x() - handle.width() / 2
                                  : point.y() - groove.y() - handle.height() / 2;
    return QStyle::sliderValueFromPosition(minimum(), maximum(), offset, span, option.upsideDown);
}

void TimeFormatSlider::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QSlider::mousePressEvent(event);
        return;
    }
    userMoving_ = true;
    emit userStartsMoving();
    // A click on the groove puts the thumb there and lets it be dragged on from there.
    QStyleOptionSlider option;
    initStyleOption(&option);
    const QRect handle = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
    if (!handle.contains(event->position().toPoint())) setValue(valueAt(event->position().toPoint()));
    QSlider::mousePressEvent(event);
}

void TimeFormatSlider::mouseReleaseEvent(QMouseEvent* event) {
    QSlider::mouseReleaseEvent(event);
    if (event->button() != Qt::LeftButton || !userMoving_) return;
    userMoving_ = false;
    emit userEndsMoving();
}

void TimeFormatSlider::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Left: case Qt::Key_Right: case Qt::Key_Up: case Qt::Key_Down:
    case Qt::Key_PageUp: case Qt::Key_PageDown: case Qt::Key_Home: case Qt::Key_End:
        break;
    default:
        QSlider::keyPressEvent(event);
        return;
    }
    asOneUserMove([&] { QSlider::keyPressEvent(event); });
}

void TimeFormatSlider::wheelEvent(QWheelEvent* event) {
    asOneUserMove([&] { QSlider::wheelEvent(event); });
}

void TimeFormatSlider::asOneUserMove(const std::function<void()>& move) {
    // A key press or a wheel notch is a whole move of its own, unless a drag is under way.
    if (userMoving_) {
        move();
        return;
    }
    emit userStartsMoving();
    move();
    emit userEndsMoving();
}

}  // namespace clipwren
