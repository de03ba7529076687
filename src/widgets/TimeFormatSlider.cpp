#include "widgets/TimeFormatSlider.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QToolTip>
#include <cmath>

namespace clipwren {

namespace {

// The mark colours of the mark buttons' icons; mid-bright, so they read on light and dark grooves.
const QColor kBeginFlagColor{40, 150, 60};
const QColor kEndFlagColor{200, 40, 40};
// A flag is a pennant this many pixels wide and high at the top of the groove; it
// points into the marked range, so the two flags of equal marks do not overlap.
constexpr int kFlagSize = 7;
// A flag's staff can be taken this many pixels either side of it: a fingertip on a
// touchpad lands within about that.
constexpr int kStaffReach = 3;
// The marked range shows through the envelope drawn over it.
constexpr int kRangeShadeAlpha = 70;
// The envelope in a tone between text and groove, lighter than the play head and the flags.
constexpr double kEnvelopeInk = 0.65;

QColor mixed(const QColor& ink, const QColor& paper, double share) {
    const auto channel = [&](int a, int b) { return int(std::lround(a * share + b * (1 - share))); };
    return QColor(channel(ink.red(), paper.red()), channel(ink.green(), paper.green()),
                  channel(ink.blue(), paper.blue()));
}

}  // namespace

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
    if (userMoving_) showTooltip(text);
}

void TimeFormatSlider::showTooltip(const QString& text) {
    if (isVisible()) QToolTip::showText(QCursor::pos(), text, this);
}

// ---- Geometry ---------------------------------------------------------------------

TimeFormatSlider::Track TimeFormatSlider::track() const {
    QStyleOptionSlider option;
    initStyleOption(&option);
    const QRect groove = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, this);
    const QRect handle = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
    if (orientation() == Qt::Horizontal) return {groove.x() + handle.width() / 2, groove.width() - handle.width()};
    return {groove.y() + handle.height() / 2, groove.height() - handle.height()};
}

bool TimeFormatSlider::upsideDown() const {
    QStyleOptionSlider option;
    initStyleOption(&option);
    return option.upsideDown;
}

int TimeFormatSlider::xOf(int value) const {
    const Track t = track();
    return t.left + QStyle::sliderPositionFromValue(minimum(), maximum(), value, t.span, upsideDown());
}

int TimeFormatSlider::valueAt(const QPoint& point) const {
    const Track t = track();
    const int offset = (orientation() == Qt::Horizontal ? point.x() : point.y()) - t.left;
    return QStyle::sliderValueFromPosition(minimum(), maximum(), offset, t.span, upsideDown());
}

int TimeFormatSlider::waveformColumns() const { return track().span + 1; }

QRect TimeFormatSlider::flagRect(Mark which) const {
    const std::optional<int> value = mark(which);
    if (!showsWaveform_ || !value) return {};
    const int x = xOf(*value);
    return which == Mark::Begin ? QRect(x, 0, kFlagSize + 1, kFlagSize + 1)
                                : QRect(x - kFlagSize, 0, kFlagSize + 1, kFlagSize + 1);
}

std::optional<TimeFormatSlider::Mark> TimeFormatSlider::flagAt(const QPoint& point) const {
    // A pixel of slack around the small pennants, and the staff anywhere down its length
    // a few pixels either side. The pennants come first: where two staffs are close, the
    // pennant the pointer is on tells them apart.
    for (Mark which : {Mark::Begin, Mark::End})
        if (flagRect(which).adjusted(-1, -1, 1, 1).contains(point)) return which;
    std::optional<Mark> nearest;
    int nearestDistance = kStaffReach + 1;
    for (Mark which : {Mark::Begin, Mark::End}) {
        if (!showsWaveform_ || !mark(which)) continue;
        const int distance = std::abs(point.x() - xOf(*mark(which)));
        if (distance < nearestDistance) {
            nearest = which;
            nearestDistance = distance;
        }
    }
    return nearest;
}

// ---- The sound in the groove ------------------------------------------------------

void TimeFormatSlider::setWaveform(std::vector<float> low, std::vector<float> high) {
    low_ = std::move(low);
    high_ = std::move(high);
    showsWaveform_ = true;
    setMouseTracking(true);
    update();
}

void TimeFormatSlider::clearWaveform() {
    low_.clear();
    high_.clear();
    showsWaveform_ = false;
    draggedFlag_.reset();
    setMouseTracking(false);
    unsetCursor();
    update();
}

void TimeFormatSlider::setMarks(std::optional<int> begin, std::optional<int> end) {
    if (begin == begin_ && end == end_) return;
    begin_ = begin;
    end_ = end;
    if (showsWaveform_) update();
}

void TimeFormatSlider::paintEvent(QPaintEvent* event) {
    if (!showsWaveform_) {
        QSlider::paintEvent(event);
        return;
    }
    paintWaveform();
}

void TimeFormatSlider::paintWaveform() {
    QPainter p(this);
    // The widget's palette is already the disabled or inactive one where that applies.
    const QPalette& colours = palette();
    p.fillRect(rect(), colours.color(QPalette::Base));
    const int bottom = height() - 1;

    if (begin_ && end_ && *begin_ < *end_) {
        QColor shade = colours.color(QPalette::Highlight);
        shade.setAlpha(kRangeShadeAlpha);
        p.fillRect(QRect(QPoint(xOf(*begin_), 1), QPoint(xOf(*end_), bottom - 1)), shade);
    }

    // The envelope between a pixel's margin at the top and the bottom; silence is the centre line.
    const Track t = track();
    const double centre = height() / 2.0;
    const double reach = (height() - 4) / 2.0;
    p.setPen(colours.color(QPalette::Mid));
    p.drawLine(t.left, int(centre), t.left + t.span, int(centre));
    std::vector<QLine> strokes;
    strokes.reserve(low_.size());
    const size_t columns = std::min({low_.size(), high_.size(), size_t(t.span + 1)});
    for (size_t c = 0; c < columns; ++c) {
        if (std::isnan(low_[c]) || std::isnan(high_[c])) continue;
        const int x = t.left + int(c);
        const int top = int(std::floor(centre - double(high_[c]) * reach));
        const int foot = std::max(top, int(std::ceil(centre - double(low_[c]) * reach)) - 1);
        strokes.emplace_back(x, top, x, foot);
    }
    // Disabled text is subdued already.
    p.setPen(mixed(colours.color(QPalette::Text), colours.color(QPalette::Base), isEnabled() ? kEnvelopeInk : 1.0));
    p.drawLines(strokes.data(), int(strokes.size()));

    for (Mark which : {Mark::Begin, Mark::End}) {
        const std::optional<int> value = mark(which);
        if (!value) continue;
        const QColor colour = !isEnabled() ? colours.color(QPalette::WindowText)
                              : which == Mark::Begin ? kBeginFlagColor : kEndFlagColor;
        const int x = xOf(*value);
        const int tip = which == Mark::Begin ? x + kFlagSize : x - kFlagSize;
        p.setPen(colour);
        p.setBrush(colour);
        p.drawLine(x, 0, x, bottom);
        p.drawPolygon(QPolygon({QPoint(x, 0), QPoint(tip, kFlagSize / 2), QPoint(x, kFlagSize)}));
    }

    // The thumb is the play head: a line with a small pointer at the foot, edged in the
    // groove's colour so that it shows over the envelope too.
    const QColor head = colours.color(QPalette::WindowText);
    const int x = xOf(value());
    p.fillRect(x - 1, 0, 3, height(), colours.color(QPalette::Base));
    p.setPen(head);
    p.setBrush(head);
    p.drawLine(x, 0, x, bottom);
    p.drawPolygon(QPolygon({QPoint(x - 4, bottom), QPoint(x + 4, bottom), QPoint(x, bottom - 5)}));

    p.setBrush(Qt::NoBrush);
    p.setPen(colours.color(hasFocus() ? QPalette::Highlight : QPalette::Mid));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}

// ---- The user's moves -------------------------------------------------------------

void TimeFormatSlider::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QSlider::mousePressEvent(event);
        return;
    }
    const QPoint point = event->position().toPoint();
    if (const std::optional<Mark> flag = flagAt(point)) {
        // Dragging a flag moves its mark and leaves the position alone.
        draggedFlag_ = flag;
        flagGrabOffset_ = point.x() - xOf(*mark(*flag));
        event->accept();
        return;
    }
    userMoving_ = true;
    emit userStartsMoving();
    // A click on the groove puts the thumb there and lets it be dragged on from there.
    QStyleOptionSlider option;
    initStyleOption(&option);
    const QRect handle = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
    if (!handle.contains(point)) setValue(valueAt(point));
    QSlider::mousePressEvent(event);
}

void TimeFormatSlider::mouseMoveEvent(QMouseEvent* event) {
    const QPoint point = event->position().toPoint();
    if (draggedFlag_) {
        const int value = valueAt(QPoint(point.x() - flagGrabOffset_, point.y()));
        std::optional<int>& dragged = *draggedFlag_ == Mark::Begin ? begin_ : end_;
        if (dragged != value) {
            dragged = value;
            update();
            emit markMoved(*draggedFlag_, value);
        }
        if (formatter_) showTooltip(formatter_(value));
        return;
    }
    if (showsWaveform_ && event->buttons() == Qt::NoButton) {
        if (flagAt(point))
            setCursor(Qt::SizeHorCursor);
        else
            unsetCursor();
    }
    QSlider::mouseMoveEvent(event);
}

void TimeFormatSlider::mouseReleaseEvent(QMouseEvent* event) {
    if (draggedFlag_ && event->button() == Qt::LeftButton) {
        draggedFlag_.reset();
        return;
    }
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

void TimeFormatSlider::moveByUser(SliderAction action) {
    asOneUserMove([&] { triggerAction(action); });
}

void TimeFormatSlider::setValueByUser(int value) {
    asOneUserMove([&] { setValue(value); });
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
