#include "widgets/TimeFormatSlider.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QToolTip>
#include <algorithm>
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
// The envelope's scale: decibels from this level (the centre line) up to full scale
// (the edge), so that a passage at -30 dB still fills half the height. The sample line
// of a deep zoom stays linear: there the shape of the wave is what the eye follows.
constexpr double kQuietestDb = -60.0;
// The deepest zoom: one unit (a millisecond on the position slider) per pixel; the
// value cannot place anything finer.
constexpr double kFinestUnitsPerPixel = 1.0;
// The overview strip along the foot while zoomed in, in pixels.
constexpr int kOverviewHeight = 4;
// A wheel notch (120 eighths of a degree) zooms by this factor; a trackpad's smaller
// steps zoom by their share of it. Two notches a decade is too slow for an hour-long
// sound, four overshoots on a mouse wheel.
constexpr double kZoomPerNotch = 2.0;
// Shift+wheel pans by this share of the view per notch.
constexpr double kPanPerNotch = 0.2;

QColor mixed(const QColor& ink, const QColor& paper, double share) {
    const auto channel = [&](int a, int b) { return int(std::lround(a * share + b * (1 - share))); };
    return QColor(channel(ink.red(), paper.red()), channel(ink.green(), paper.green()),
                  channel(ink.blue(), paper.blue()));
}

// Height of an amplitude (0..1) on the envelope's decibel scale, as a share of the reach.
double loudness(double amplitude) {
    if (amplitude <= 0) return 0;
    return std::clamp((20 * std::log10(amplitude) - kQuietestDb) / -kQuietestDb, 0.0, 1.0);
}

// The lowest and highest value of a picture from t0 to t1, in -1..1 on the drawing's
// scale. A column picture gives every column touching the stretch (at least the nearest
// one); samples give those inside plus one neighbour either side, so the line between
// samples is drawn too. False where the picture does not cover the stretch or knows nothing.
bool extentOf(const TimeFormatSlider::SoundPicture& picture, double t0, double t1, double& low, double& high) {
    const bool line = !picture.samples.empty();
    const size_t count = line ? picture.samples.size() : std::min(picture.low.size(), picture.high.size());
    if (count == 0 || picture.to <= picture.from || t1 < picture.from || t0 > picture.to) return false;
    const double step = count > 1 ? (picture.to - picture.from) / double(count - 1) : 1.0;
    const double first = (t0 - picture.from) / step;
    const double last = (t1 - picture.from) / step;
    const auto index = [&](double i) { return size_t(std::clamp(i, 0.0, double(count - 1))); };
    const size_t from = line ? index(std::floor(first)) : index(std::floor(first + 0.5));
    const size_t to = std::max(from, line ? index(std::ceil(last)) : index(std::ceil(last - 0.5)));
    low = 2;
    high = -2;
    for (size_t i = from; i <= to; ++i) {
        if (line) {
            low = std::min(low, double(picture.samples[i]));
            high = std::max(high, double(picture.samples[i]));
        } else if (!std::isnan(picture.low[i]) && !std::isnan(picture.high[i])) {
            low = std::min(low, double(picture.low[i]));
            high = std::max(high, double(picture.high[i]));
        }
    }
    if (low > high) return false;
    if (!line) {
        high = high > 0 ? loudness(high) : -loudness(-high);
        low = low < 0 ? -loudness(-low) : loudness(low);
    }
    return true;
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

QString TimeFormatSlider::markTooltip(int value) const {
    QString text = formatter_(value);
    if (begin_ && end_ && *begin_ <= *end_) text += QStringLiteral("\nlength ") + formatter_(*end_ - *begin_);
    return text;
}

bool TimeFormatSlider::event(QEvent* event) {
    // Over a sound the tooltip tells the time under the pointer, not the play head's.
    if (event->type() == QEvent::ToolTip && showsWaveform_ && formatter_) {
        const auto* help = static_cast<QHelpEvent*>(event);
        QToolTip::showText(help->globalPos(), formatter_(valueAt(help->pos())), this);
        return true;
    }
    return QSlider::event(event);
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

TimeFormatSlider::Layout TimeFormatSlider::layout() const {
    Layout l;
    l.track = track();
    l.soundTop = 1;
    l.soundBottom = height() - 2;
    if (zoomed_) {
        l.overview = QRect(l.track.left, height() - 1 - kOverviewHeight, l.track.span + 1, kOverviewHeight);
        l.soundBottom = l.overview.top() - 1;
    }
    return l;
}

bool TimeFormatSlider::upsideDown() const {
    QStyleOptionSlider option;
    initStyleOption(&option);
    return option.upsideDown;
}

TimeFormatSlider::View TimeFormatSlider::view() const {
    if (!zoomed_) return {double(minimum()), double(maximum())};
    return {viewFrom_, viewFrom_ + viewLength_};
}

double TimeFormatSlider::xAt(double value) const {
    const Track t = track();
    const View v = view();
    if (v.to <= v.from) return t.left;
    return t.left + (value - v.from) * t.span / (v.to - v.from);
}

double TimeFormatSlider::valueAtX(double x) const {
    const Track t = track();
    const View v = view();
    if (t.span <= 0) return v.from;
    return v.from + (x - t.left) * (v.to - v.from) / t.span;
}

int TimeFormatSlider::xOf(int value) const {
    if (!showsWaveform_) {
        const Track t = track();
        return t.left + QStyle::sliderPositionFromValue(minimum(), maximum(), value, t.span, upsideDown());
    }
    return int(std::lround(xAt(value)));
}

int TimeFormatSlider::valueAt(const QPoint& point) const {
    if (!showsWaveform_) return plainValueAt(point);
    return int(std::clamp<double>(std::lround(valueAtX(point.x())), minimum(), maximum()));
}

int TimeFormatSlider::plainValueAt(const QPoint& point) const {
    const Track t = track();
    const int offset = (orientation() == Qt::Horizontal ? point.x() : point.y()) - t.left;
    return QStyle::sliderValueFromPosition(minimum(), maximum(), offset, t.span, upsideDown());
}

int TimeFormatSlider::waveformColumns() const {
    return int(std::lround(track().span * devicePixelRatioF())) + 1;
}

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
    if (onOverview(point)) return std::nullopt;
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

bool TimeFormatSlider::onOverview(const QPoint& point) const {
    return zoomed_ && point.y() >= layout().overview.top() - 1;
}

// ---- Zoom -------------------------------------------------------------------------

double TimeFormatSlider::viewLengthWithin(double length) const {
    const double whole = double(maximum()) - minimum();
    const double finest = kFinestUnitsPerPixel * std::max(track().span, 1);
    return std::clamp(length, std::min(finest, whole), whole);
}

void TimeFormatSlider::setView(double from, double length) {
    const double whole = double(maximum()) - minimum();
    length = viewLengthWithin(length);
    // On whole units, so that at one unit per pixel every pixel is exactly one value.
    from = std::clamp(std::round(from), double(minimum()), double(maximum()) - length);
    const bool zoomed = length < whole;
    if (zoomed == zoomed_ && (!zoomed || (from == viewFrom_ && length == viewLength_))) return;
    zoomed_ = zoomed;
    viewFrom_ = from;
    viewLength_ = length;
    update();
    emit viewChanged();
}

void TimeFormatSlider::zoomBy(double factor, double anchor) {
    if (!showsWaveform_ || factor <= 0) return;
    const View v = view();
    const double length = viewLengthWithin((v.to - v.from) / factor);
    // The anchor keeps its share of the view.
    const double share = v.to > v.from ? (anchor - v.from) / (v.to - v.from) : 0.5;
    setView(anchor - share * length, length);
}

void TimeFormatSlider::showWhole() { setView(minimum(), double(maximum()) - minimum()); }

void TimeFormatSlider::pan(double delta) {
    if (!zoomed_) return;
    setView(viewFrom_ + delta, viewLength_);
}

void TimeFormatSlider::centreViewOn(double value) {
    if (zoomed_) setView(value - viewLength_ / 2, viewLength_);
}

// A value that walks off the view turns the page, so a playing sound stays in view;
// one that jumps away is brought to the middle. A view the user took elsewhere while the
// value was out of sight stays where it is.
void TimeFormatSlider::keepInView(int previous, int value) {
    if (!zoomed_ || drag_ == Drag::Position) return;
    const View v = view();
    const auto inView = [&](double x) { return x >= v.from && x <= v.to; };
    if (inView(value) || !inView(previous)) return;
    if (value > v.to && value - v.to < viewLength_)
        setView(value, viewLength_);
    else
        centreViewOn(value);
}

void TimeFormatSlider::sliderChange(SliderChange change) {
    if (change == SliderRangeChange) {
        // A new range is a new sound: shown whole.
        zoomed_ = false;
        emit viewChanged();
    }
    if (change == SliderValueChange) {
        const int previous = shownValue_;
        shownValue_ = value();
        keepInView(previous, shownValue_);
    }
    QSlider::sliderChange(change);
}

void TimeFormatSlider::resizeEvent(QResizeEvent* event) {
    QSlider::resizeEvent(event);
    if (showsWaveform_) emit viewChanged();
}

// ---- The sound in the groove ------------------------------------------------------

void TimeFormatSlider::setWaveform(std::vector<float> low, std::vector<float> high) {
    whole_ = {double(minimum()), double(maximum()), std::move(low), std::move(high), {}};
    showsWaveform_ = true;
    setMouseTracking(true);
    update();
}

void TimeFormatSlider::setViewPicture(SoundPicture picture) {
    inView_ = std::move(picture);
    update();
}

void TimeFormatSlider::clearWaveform() {
    whole_ = {};
    inView_ = {};
    showsWaveform_ = false;
    zoomed_ = false;
    drag_ = Drag::None;
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
    const Layout l = layout();
    paintGroove(p, l);
    paintMarkedRange(p, l);
    paintSound(p, l);
    paintFlags(p, l);
    paintPlayHead(p, l);
    paintOverview(p, l);
    paintFocusFrame(p);
}

void TimeFormatSlider::paintGroove(QPainter& p, const Layout&) const {
    // The widget's palette is already the disabled or inactive one where that applies.
    p.fillRect(rect(), palette().color(QPalette::Base));
}

void TimeFormatSlider::paintMarkedRange(QPainter& p, const Layout& l) const {
    if (!begin_ || !end_ || *begin_ >= *end_) return;
    QColor shade = palette().color(QPalette::Highlight);
    shade.setAlpha(kRangeShadeAlpha);
    const int left = std::max(xOf(*begin_), l.track.left);
    const int right = std::min(xOf(*end_), l.track.left + l.track.span);
    if (left <= right) p.fillRect(QRect(QPoint(left, 1), QPoint(right, l.soundBottom)), shade);
}

// One stroke per device pixel, so the picture is as sharp as the screen at any scale.
void TimeFormatSlider::paintSound(QPainter& p, const Layout& l) const {
    const QPalette& colours = palette();
    const double ratio = devicePixelRatioF();
    p.save();
    p.scale(1 / ratio, 1 / ratio);
    const double top = l.soundTop * ratio;
    const double bottom = (l.soundBottom + 1) * ratio;
    const double centre = std::floor((top + bottom) / 2);
    const double reach = (bottom - top) / 2 - 1;
    const int first = int(std::lround(l.track.left * ratio));
    const int last = int(std::lround((l.track.left + l.track.span) * ratio));
    p.setPen(QPen(colours.color(QPalette::Mid), 1));
    p.drawLine(first, int(centre), last, int(centre));

    std::vector<QLine> strokes;
    strokes.reserve(size_t(last - first + 1));
    for (int x = first; x <= last; ++x) {
        const double t0 = valueAtX((x - 0.5) / ratio);
        const double t1 = valueAtX((x + 0.5) / ratio);
        double low = 0, high = 0;
        if (!extentOf(inView_, t0, t1, low, high) && !extentOf(whole_, t0, t1, low, high)) continue;
        const int y0 = int(std::floor(centre - high * reach));
        const int y1 = std::max(y0, int(std::ceil(centre - low * reach)));
        strokes.emplace_back(x, y0, x, y1);
    }
    // Disabled text is subdued already.
    p.setPen(QPen(mixed(colours.color(QPalette::Text), colours.color(QPalette::Base), isEnabled() ? kEnvelopeInk : 1.0),
                  1));
    p.drawLines(strokes.data(), int(strokes.size()));
    p.restore();
}

void TimeFormatSlider::paintFlags(QPainter& p, const Layout& l) const {
    for (Mark which : {Mark::Begin, Mark::End}) {
        const std::optional<int> value = mark(which);
        if (!value) continue;
        const int x = xOf(*value);
        if (x < l.track.left - 1 || x > l.track.left + l.track.span + 1) continue;
        const QColor colour = !isEnabled() ? palette().color(QPalette::WindowText)
                              : which == Mark::Begin ? kBeginFlagColor : kEndFlagColor;
        const int tip = which == Mark::Begin ? x + kFlagSize : x - kFlagSize;
        p.setPen(colour);
        p.setBrush(colour);
        p.drawLine(x, 0, x, l.soundBottom);
        p.drawPolygon(QPolygon({QPoint(x, 0), QPoint(tip, kFlagSize / 2), QPoint(x, kFlagSize)}));
    }
}

// The thumb is the play head: a line with a small pointer at the foot, edged in the
// groove's colour so that it shows over the envelope too.
void TimeFormatSlider::paintPlayHead(QPainter& p, const Layout& l) const {
    const int x = xOf(value());
    if (x < l.track.left - 1 || x > l.track.left + l.track.span + 1) return;
    const QColor head = palette().color(QPalette::WindowText);
    const int bottom = l.soundBottom;
    p.fillRect(x - 1, 0, 3, bottom + 1, palette().color(QPalette::Base));
    p.setPen(head);
    p.setBrush(head);
    p.drawLine(x, 0, x, bottom);
    p.drawPolygon(QPolygon({QPoint(x - 4, bottom), QPoint(x + 4, bottom), QPoint(x, bottom - 5)}));
}

// The whole sound along the foot, the part in view and the play head marked on it.
void TimeFormatSlider::paintOverview(QPainter& p, const Layout& l) const {
    if (l.overview.isEmpty()) return;
    const QPalette& colours = palette();
    p.fillRect(l.overview, colours.color(QPalette::Mid));
    const double whole = std::max(1.0, double(maximum()) - minimum());
    const auto at = [&](double value) { return l.overview.left() + int(std::lround((value - minimum()) / whole * l.track.span)); };
    const View v = view();
    p.fillRect(QRect(QPoint(at(v.from), l.overview.top()), QPoint(std::max(at(v.to), at(v.from) + 2), l.overview.bottom())),
               colours.color(QPalette::Highlight));
    p.fillRect(at(value()), l.overview.top(), 1, l.overview.height(), colours.color(QPalette::WindowText));
}

void TimeFormatSlider::paintFocusFrame(QPainter& p) const {
    p.setBrush(Qt::NoBrush);
    p.setPen(palette().color(hasFocus() ? QPalette::Highlight : QPalette::Mid));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}

// ---- The user's moves -------------------------------------------------------------

void TimeFormatSlider::mousePressEvent(QMouseEvent* event) {
    const QPoint point = event->position().toPoint();
    if (showsWaveform_ && event->button() == Qt::MiddleButton && zoomed_) {
        drag_ = Drag::Pan;
        panFromX_ = point.x();
        panFromView_ = viewFrom_;
        setCursor(Qt::ClosedHandCursor);
        event->accept();
        return;
    }
    if (event->button() != Qt::LeftButton) {
        QSlider::mousePressEvent(event);
        return;
    }
    if (!showsWaveform_) {
        userMoving_ = true;
        emit userStartsMoving();
        // A click on the groove puts the thumb there and lets it be dragged on from there.
        QStyleOptionSlider option;
        initStyleOption(&option);
        const QRect handle = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
        if (!handle.contains(point)) setValue(plainValueAt(point));
        QSlider::mousePressEvent(event);
        return;
    }
    event->accept();
    if (onOverview(point)) {
        drag_ = Drag::Overview;
        centreViewOn(minimum() + double(point.x() - track().left) / std::max(track().span, 1) *
                                     (double(maximum()) - minimum()));
        return;
    }
    if (const std::optional<Mark> flag = flagAt(point)) {
        // Dragging a flag moves its mark and leaves the position alone.
        drag_ = Drag::Flag;
        draggedFlag_ = flag;
        flagGrabOffset_ = point.x() - xOf(*mark(*flag));
        if (formatter_) showTooltip(markTooltip(*mark(*flag)));
        return;
    }
    // Anywhere else the play head goes to the pointer and follows it until released.
    drag_ = Drag::Position;
    userMoving_ = true;
    emit userStartsMoving();
    setValue(valueAt(point));
    if (formatter_) showTooltip(formatter_(value()));
}

void TimeFormatSlider::mouseDoubleClickEvent(QMouseEvent* event) {
    if (showsWaveform_ && event->button() == Qt::LeftButton && onOverview(event->position().toPoint())) {
        showWhole();
        event->accept();
        return;
    }
    QSlider::mouseDoubleClickEvent(event);
}

void TimeFormatSlider::mouseMoveEvent(QMouseEvent* event) {
    const QPoint point = event->position().toPoint();
    switch (drag_) {
    case Drag::Flag: {
        const int value = valueAt(QPoint(point.x() - flagGrabOffset_, point.y()));
        std::optional<int>& dragged = *draggedFlag_ == Mark::Begin ? begin_ : end_;
        if (dragged != value) {
            dragged = value;
            update();
            emit markMoved(*draggedFlag_, value);
        }
        if (formatter_) showTooltip(markTooltip(value));
        return;
    }
    case Drag::Position:
        setValue(valueAt(point));
        return;
    case Drag::Overview:
        centreViewOn(minimum() + double(point.x() - track().left) / std::max(track().span, 1) *
                                     (double(maximum()) - minimum()));
        return;
    case Drag::Pan:
        setView(panFromView_ - (point.x() - panFromX_) * viewLength_ / std::max(track().span, 1), viewLength_);
        return;
    case Drag::None:
        break;
    }
    if (showsWaveform_ && event->buttons() == Qt::NoButton) {
        if (flagAt(point))
            setCursor(Qt::SizeHorCursor);
        else
            unsetCursor();
        // A tooltip already showing follows the pointer's time.
        if (formatter_ && QToolTip::isVisible()) showTooltip(formatter_(valueAt(point)));
        return;
    }
    QSlider::mouseMoveEvent(event);
}

void TimeFormatSlider::mouseReleaseEvent(QMouseEvent* event) {
    const Drag ended = drag_;
    if (ended != Drag::None && (event->button() == Qt::LeftButton || event->button() == Qt::MiddleButton)) {
        drag_ = Drag::None;
        draggedFlag_.reset();
        unsetCursor();
        if (ended == Drag::Position) {
            userMoving_ = false;
            emit userEndsMoving();
        }
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
    if (!showsWaveform_) {
        asOneUserMove([&] { QSlider::wheelEvent(event); });
        return;
    }
    event->accept();
    // Shift, or a sideways scroll, pans; the wheel itself zooms around the pointer.
    const QPoint delta = event->angleDelta();
    const bool sideways = (event->modifiers() & Qt::ShiftModifier) || std::abs(delta.x()) > std::abs(delta.y());
    const double notches = (delta.y() != 0 ? delta.y() : delta.x()) / 120.0;
    if (sideways)
        pan(-notches * kPanPerNotch * viewLength_);
    else
        zoomBy(std::pow(kZoomPerNotch, notches), valueAtX(event->position().x()));
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
    // Where the user sends the play head, the view goes too.
    const View v = view();
    if (zoomed_ && (value() < v.from || value() > v.to)) centreViewOn(value());
    emit userEndsMoving();
}

}  // namespace clipwren
