#include "widgets/MyButton.h"

#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QStyleOptionFocusRect>
#include <algorithm>
#include <cmath>

#include "widgets/FitFont.h"

namespace clipwren {

namespace {

const QColor kGreen{40, 150, 60};
const QColor kRed{200, 40, 40};
const QColor kInk{30, 30, 90};
const QColor kFolderYellow{235, 190, 70};

// WCAG's least contrast for the parts of a picture: below it a line or shape blurs into
// its background. A colour that falls short is moved to the contrast WCAG asks of text,
// so that the soft edges of its lines still stand out.
constexpr double kLeastContrast = 3.0;
constexpr double kMendedContrast = 4.5;

double relativeLuminance(const QColor& colour) {
    auto linear = [](double channel) {
        return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF()) + 0.0722 * linear(colour.blueF());
}

double contrast(const QColor& a, const QColor& b) {
    const double first = relativeLuminance(a), second = relativeLuminance(b);
    return (std::max(first, second) + 0.05) / (std::min(first, second) + 0.05);
}

// A colour of the pictures as it stands out on `background`: unchanged where it already
// does (the light schemes the pictures were drawn for), else made lighter or darker in
// the same hue, whichever way the background leaves room, until it does. A dark scheme
// gets light variants of the navy ink and border; the lavender of a pressed button
// gets the navy back.
QColor legibleOn(const QColor& background, const QColor& colour) {
    if (contrast(colour, background) >= kLeastContrast) return colour;
    const bool lighten = contrast(Qt::white, background) > contrast(Qt::black, background);
    const QColor hsl = colour.toHsl();
    // In steps of 4 of 255 in lightness: finer than a line's shade can be told apart.
    for (int lightness = hsl.lightness(); lightness >= 0 && lightness <= 255; lightness += lighten ? 4 : -4) {
        const QColor candidate = QColor::fromHsl(hsl.hslHue(), hsl.hslSaturation(), lightness, hsl.alpha());
        if (contrast(candidate, background) >= kMendedContrast) return candidate;
    }
    return lighten ? QColor(Qt::white) : QColor(Qt::black);
}

// An icon above the caption smaller than this is hard to make out.
constexpr int kSmallestStackedIcon = 14;
constexpr int kBesideIconSize = 16;
constexpr int kIconGap = 4;

// Each icon is drawn in a 16 x 16 design square scaled into `box`, in colours legible on
// `background`; only the folder's yellow stays as it is, its outline standing out.
void drawIcon(QPainter& p, MyButton::Picture picture, const QRectF& box, const QColor& background) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    const qreal scale = std::min(box.width(), box.height()) / 16.0;
    p.translate(box.center().x() - 8 * scale, box.center().y() - 8 * scale);
    p.scale(scale, scale);
    auto legible = [&background](const QColor& colour) { return legibleOn(background, colour); };
    const QColor ink = legible(kInk);

    auto triangle = [&](qreal left, qreal top, qreal width, qreal height, const QColor& fill) {
        QPainterPath path;
        path.moveTo(left, top);
        path.lineTo(left + width, top + height / 2);
        path.lineTo(left, top + height);
        path.closeSubpath();
        p.setPen(QPen(legible(fill.darker(140)), 0.8));
        p.setBrush(legible(fill));
        p.drawPath(path);
    };
    auto bracket = [&](qreal x, bool opening) {
        const qreal tip = opening ? x + 3 : x - 3;
        p.setPen(QPen(ink, 1.6, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
        p.setBrush(Qt::NoBrush);
        p.drawPolyline(QPolygonF{{tip, 2}, {x, 2}, {x, 14}, {tip, 14}});
    };
    auto cross = [&](qreal cx, qreal cy) {
        p.setPen(QPen(legible(kRed), 1.8, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(cx - 3, cy - 3), QPointF(cx + 3, cy + 3));
        p.drawLine(QPointF(cx - 3, cy + 3), QPointF(cx + 3, cy - 3));
    };
    auto folder = [&](qreal dy) {
        p.setPen(QPen(legible(kFolderYellow.darker(160)), 0.8));
        p.setBrush(kFolderYellow);
        QPainterPath path;
        path.moveTo(1, 4 + dy);
        path.lineTo(6, 4 + dy);
        path.lineTo(7.5, 5.5 + dy);
        path.lineTo(15, 5.5 + dy);
        path.lineTo(15, 14 + dy);
        path.lineTo(1, 14 + dy);
        path.closeSubpath();
        p.drawPath(path);
    };
    auto note = [&](qreal x, qreal y) {
        p.setPen(QPen(ink, 1.2));
        p.setBrush(ink);
        p.drawEllipse(QPointF(x, y + 6), 1.8, 1.4);
        p.drawLine(QPointF(x + 1.6, y + 6), QPointF(x + 1.6, y));
        p.drawLine(QPointF(x + 1.6, y), QPointF(x + 4, y + 1.5));
    };
    auto disk = [&](const QColor& body) {
        p.setPen(QPen(legible(body.darker(170)), 0.8));
        p.setBrush(legible(body));
        p.drawRoundedRect(QRectF(2, 2, 12, 12), 1, 1);
        p.setBrush(Qt::white);
        p.drawRect(QRectF(4.5, 2, 7, 4.5));
        p.setBrush(QColor(60, 60, 60));
        p.drawRect(QRectF(5, 9, 6, 5));
    };

    switch (picture) {
    case MyButton::Picture::None: break;
    case MyButton::Picture::OpenInput:
        folder(0);
        note(9, 5);
        break;
    case MyButton::Picture::SaveOutput: disk(QColor(70, 110, 190)); break;
    case MyButton::Picture::Folder:
        folder(0);
        p.setPen(QPen(legible(kGreen.darker(130)), 1.6, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(11, 7.5), QPointF(11, 12.5));
        p.drawLine(QPointF(8.5, 10), QPointF(13.5, 10));
        break;
    case MyButton::Picture::Play: triangle(4, 2, 10, 12, kGreen); break;
    case MyButton::Picture::Pause:
        p.setPen(Qt::NoPen);
        p.setBrush(ink);
        p.drawRect(QRectF(3.5, 2.5, 3.5, 11));
        p.drawRect(QRectF(9, 2.5, 3.5, 11));
        break;
    case MyButton::Picture::Stop:
        p.setPen(QPen(legible(kRed.darker(140)), 0.8));
        p.setBrush(legible(kRed));
        p.drawRect(QRectF(3, 3, 10, 10));
        break;
    case MyButton::Picture::MarkBegin:
        bracket(4, true);
        triangle(7, 5, 6, 6, kGreen);
        break;
    case MyButton::Picture::MarkEnd:
        bracket(12, false);
        triangle(3, 5, 6, 6, kGreen);
        break;
    case MyButton::Picture::ClearBegin:
        bracket(4, true);
        cross(10.5, 8);
        break;
    case MyButton::Picture::ClearEnd:
        bracket(12, false);
        cross(5.5, 8);
        break;
    case MyButton::Picture::PlayMarked:
        bracket(2, true);
        bracket(14, false);
        triangle(5.5, 4, 6, 8, kGreen);
        break;
    case MyButton::Picture::Save:
        disk(QColor(70, 110, 190));
        triangle(9, 9, 6, 6, kGreen);
        break;
    case MyButton::Picture::Help: {
        const QColor circle = legible(QColor(60, 110, 210));
        p.setPen(QPen(legible(QColor(30, 70, 160)), 1));
        p.setBrush(circle);
        p.drawEllipse(QRectF(1, 1, 14, 14));
        QFont font = p.font();
        font.setBold(true);
        font.setPixelSize(11);
        p.setFont(font);
        p.setPen(legibleOn(circle, Qt::white));
        p.drawText(QRectF(1, 1, 14, 14), Qt::AlignCenter, QStringLiteral("?"));
        break;
    }
    case MyButton::Picture::Reset: {
        p.setPen(QPen(ink, 1.6, Qt::SolidLine, Qt::RoundCap));
        p.setBrush(Qt::NoBrush);
        p.drawArc(QRectF(3, 3, 10, 10), 100 * 16, 290 * 16);
        QPainterPath head;
        head.moveTo(6.2, 0.8);
        head.lineTo(9.5, 3.4);
        head.lineTo(5.8, 5.6);
        head.closeSubpath();
        p.setPen(Qt::NoPen);
        p.setBrush(ink);
        p.drawPath(head);
        break;
    }
    case MyButton::Picture::Logo: break;  // drawn across the whole button, see paintEvent
    }
    p.restore();
}

// The publisher's word mark: a swoosh and the name, filling the button.
void drawLogo(QPainter& p, const QRectF& box, const QColor& background) {
    const QColor navy = legibleOn(background, QColor(40, 60, 170));
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF mark(box.left() + 4, box.top() + 4, box.height() - 8, box.height() - 8);
    QLinearGradient gradient(mark.topLeft(), mark.bottomRight());
    gradient.setColorAt(0, QColor(8, 193, 240));
    gradient.setColorAt(1, navy);
    p.setPen(Qt::NoPen);
    p.setBrush(gradient);
    QPainterPath v;
    v.moveTo(mark.left(), mark.top());
    v.lineTo(mark.center().x(), mark.bottom());
    v.lineTo(mark.right(), mark.top());
    v.lineTo(mark.center().x(), mark.top() + mark.height() * 0.55);
    v.closeSubpath();
    p.drawPath(v);
    QFont font = p.font();
    font.setBold(true);
    font.setItalic(true);
    font.setPixelSize(std::max(8, int(box.height() * 0.5)));
    p.setFont(font);
    p.setPen(navy);
    p.drawText(box.adjusted(mark.width() + 8, 0, -2, 0), Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("Vantrel"));
    p.restore();
}

// A frame one pixel wide on whole device pixels inside the button: at a fractional scale
// factor the button's edge falls inside a device pixel, and a line drawn on the edge
// itself would land half outside the button and be lost there.
void drawFrame(QPainter& p, const QRect& area, const QColor& colour) {
    const QTransform toDevice = p.deviceTransform();
    const QRectF device = toDevice.mapRect(QRectF(area));
    // A hair's tolerance, so that a whole-pixel edge is not pushed a pixel in by rounding.
    constexpr double kTolerance = 1e-3;
    const int left = int(std::ceil(device.left() - kTolerance)), top = int(std::ceil(device.top() - kTolerance));
    const int right = int(std::floor(device.right() + kTolerance));
    const int bottom = int(std::floor(device.bottom() + kTolerance));
    const int line = std::max(1, int(std::lround(toDevice.m22())));
    const QTransform toLogical = toDevice.inverted();
    const auto fill = [&](int x, int y, int width, int height) {
        p.fillRect(toLogical.mapRect(QRectF(x, y, width, height)), colour);
    };
    fill(left, top, right - left, line);
    fill(left, bottom - line, right - left, line);
    fill(left, top, line, bottom - top);
    fill(right - line, top, line, bottom - top);
}

}  // namespace

MyButton::MyButton(QWidget* parent) : QAbstractButton(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_Hover);
}

void MyButton::setPicture(Picture picture) {
    picture_ = picture;
    update();
}

void MyButton::setHotTracking(bool on) {
    hotTracking_ = on;
    update();
}

QColor MyButton::backgroundColor() const {
    if (hotTracking_ && (isDown() || underMouse())) return kHotColor;
    return palette().color(QPalette::Button);
}

QSize MyButton::sizeHint() const {
    const QFontMetrics metrics = fontMetrics();
    const int captionWidth = text().isEmpty() ? 0 : metrics.horizontalAdvance(text()) + 8;
    const int captionHeight = text().isEmpty() ? 0 : metrics.height();
    return {std::max(32, captionWidth), 28 + captionHeight};
}

void MyButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QColor background = backgroundColor();
    p.fillRect(rect(), background);
    drawFrame(p, rect(), legibleOn(background, kBorderColor));

    // A pressed button's content moves by a pixel, as a push button's does.
    const QRect content = rect().adjusted(3, 3, -3, -3).translated(isDown() ? QPoint(1, 1) : QPoint());
    if (picture_ == Picture::Logo) {
        drawLogo(p, content, background);
    } else if (text().isEmpty()) {
        drawIcon(p, picture_, content, background);
    } else {
        const QColor captionColor = legibleOn(background, isEnabled() ? palette().color(QPalette::ButtonText)
                                                                      : palette().color(QPalette::Disabled, QPalette::ButtonText));
        const int captionHeight = fontMetrics().height();
        const int captionWidth = fontMetrics().horizontalAdvance(text());
        const int besideIcon = std::min(content.height(), kBesideIconSize);
        const int groupWidth = besideIcon + kIconGap + captionWidth;
        if (content.height() - captionHeight < kSmallestStackedIcon && groupWidth <= content.width()) {
            // A short, wide button: above its caption the icon would shrink to a smudge, so
            // it stands beside the caption, the two centred together.
            const int left = content.left() + (content.width() - groupWidth) / 2;
            drawIcon(p, picture_, QRect(left, content.center().y() - besideIcon / 2, besideIcon, besideIcon), background);
            p.setPen(captionColor);
            p.drawText(QRect(left + besideIcon + kIconGap, content.top(), captionWidth + 1, content.height()),
                       Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text());
        } else {
            const QRect iconBox(content.left(), content.top(), content.width(), content.height() - captionHeight);
            drawIcon(p, picture_, iconBox, background);
            p.setPen(captionColor);
            // Within the content's margins, so the caption keeps clear of the border.
            p.setFont(FitFontToWidth(font(), text(), content.width()));
            p.drawText(QRect(rect().left(), iconBox.bottom(), rect().width(), captionHeight + 1),
                       Qt::AlignHCenter | Qt::AlignVCenter | Qt::TextSingleLine, text());
        }
    }

    if (hasFocus()) {
        QStyleOptionFocusRect option;
        option.initFrom(this);
        option.rect = rect().adjusted(2, 2, -2, -2);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &p, this);
    }
}

namespace {

bool pressesButton(const QKeyEvent& key) {
    const Qt::KeyboardModifiers modifiers = key.modifiers() & ~Qt::KeypadModifier;
    return modifiers == Qt::NoModifier &&
           (key.key() == Qt::Key_Space || key.key() == Qt::Key_Return || key.key() == Qt::Key_Enter);
}

}  // namespace

bool MyButton::event(QEvent* event) {
    if (event->type() == QEvent::ShortcutOverride && pressesButton(static_cast<QKeyEvent&>(*event))) {
        event->accept();
        return true;
    }
    return QAbstractButton::event(event);
}

void MyButton::keyPressEvent(QKeyEvent* event) {
    // Space presses on its own (down, then click on release); Return clicks at once.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && pressesButton(*event)) {
        if (!event->isAutoRepeat()) click();
        event->accept();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

void MyButton::enterEvent(QEnterEvent* event) {
    QAbstractButton::enterEvent(event);
    update();
}

void MyButton::leaveEvent(QEvent* event) {
    QAbstractButton::leaveEvent(event);
    update();
}

}  // namespace clipwren
