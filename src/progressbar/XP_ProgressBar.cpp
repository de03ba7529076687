#include "progressbar/XP_ProgressBar.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPalette>
#include <QRegion>
#include <algorithm>
#include <cmath>
#include <iterator>

namespace clipwren {

namespace {

constexpr int32_t kBlockWidth = 8;
constexpr int32_t kBlockGap = 2;
constexpr int32_t kBlockPitch = kBlockWidth + kBlockGap;
constexpr int32_t kMarqueeBlock = 10;
constexpr int32_t kMarqueePitch = kMarqueeBlock + kBlockGap;
constexpr int32_t kMarqueeBlocks = 3;
constexpr int32_t kEdgeBand = 6;
constexpr int32_t kEdgeLightening = 150;
constexpr uint32_t kBackground = 0xFFFFFF;
constexpr uint32_t kFrameOuterLight = 0xBEBEBE;
constexpr uint32_t kFrameInnerLight = 0xEFEFEF;
constexpr uint32_t kFrameDark = 0x686868;
constexpr uint32_t kTextColor = 0x000000;
constexpr int32_t kMarqueeStyle = 2;

// Thrown by the checked arithmetic; caught at the top of the pass, never beyond it.
struct PassStopped {};

int32_t add(int32_t a, int32_t b) {
    int32_t result;
    if (__builtin_add_overflow(a, b, &result)) throw PassStopped{};
    return result;
}

int32_t sub(int32_t a, int32_t b) {
    int32_t result;
    if (__builtin_sub_overflow(a, b, &result)) throw PassStopped{};
    return result;
}

int32_t mul(int32_t a, int32_t b) {
    int32_t result;
    if (__builtin_mul_overflow(a, b, &result)) throw PassStopped{};
    return result;
}

// Nearest integer, a half going to the even neighbour (the default rounding mode).
int32_t roundHalfEven(double v) { return static_cast<int32_t>(std::nearbyint(v)); }

QColor toQColor(uint32_t c) { return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF); }

uint32_t toColorRef(const QColor& c) {
    return uint32_t(c.red()) | (uint32_t(c.green()) << 8) | (uint32_t(c.blue()) << 16);
}

BoxRect normalised(const BoxRect& r) {
    return {std::min(r.left, r.right), std::min(r.top, r.bottom), std::max(r.left, r.right),
            std::max(r.top, r.bottom)};
}

QRect toQRect(const BoxRect& r) { return QRect(r.left, r.top, sub(r.right, r.left), sub(r.bottom, r.top)); }

void FillBox(const BoxRect& rect, uint32_t colour, QPainter& dc) {
    dc.fillRect(toQRect(normalised(rect)), toQColor(XP_ProgressBar::ResolveColor(colour)));
}

// One-pixel outline just inside the rectangle.
void FrameBox(const BoxRect& rect, uint32_t colour, QPainter& dc) {
    const BoxRect r = normalised(rect);
    if (r.left == r.right || r.top == r.bottom) return;
    const QColor c = toQColor(XP_ProgressBar::ResolveColor(colour));
    const int32_t lastColumn = sub(r.right, 1);
    const int32_t lastRow = sub(r.bottom, 1);
    dc.fillRect(toQRect({r.left, r.top, r.right, add(r.top, 1)}), c);
    dc.fillRect(toQRect({r.left, lastRow, r.right, r.bottom}), c);
    dc.fillRect(toQRect({r.left, r.top, add(r.left, 1), r.bottom}), c);
    dc.fillRect(toQRect({lastColumn, r.top, r.right, r.bottom}), c);
}

void SetPixelV(QPainter& dc, int32_t x, int32_t y, uint32_t colour) { dc.fillRect(x, y, 1, 1, toQColor(colour)); }

enum class GradientDirection { Horizontal, Vertical };

// A rectangle gradient: c1 at the first vertex (x, y), c2 at the second (x + w, y + h),
// varying only along the direction, linearly, the far edge exclusive.
void FillGradient(QPainter& dc, int32_t x, int32_t y, int32_t w, int32_t h, GradientColor c1,
                  GradientColor c2, GradientDirection direction) {
    const BoxRect box = normalised({x, y, add(x, w), add(y, h)});
    const bool horizontal = direction == GradientDirection::Horizontal;
    const int32_t lo = horizontal ? box.left : box.top;
    const int32_t hi = horizontal ? box.right : box.bottom;
    const int64_t steps = int64_t(hi) - lo;
    if (steps == 0 || box.left == box.right || box.top == box.bottom) return;
    const bool firstVertexAtFarEdge = (horizontal ? w : h) < 0;
    // Lines outside the device would be clipped anyway.
    const int32_t extent = horizontal ? dc.device()->width() : dc.device()->height();
    const int32_t from = std::max(lo, 0);
    const int32_t to = std::min(hi, extent);
    const auto channel = [steps](uint16_t a, uint16_t b, int64_t k) {
        return int((a + (int64_t(b) - a) * k / steps) >> 8);
    };
    for (int32_t p = from; p < to; ++p) {
        const int64_t k = firstVertexAtFarEdge ? int64_t(hi) - 1 - p : int64_t(p) - lo;
        const QColor colour(channel(c1.red, c2.red, k), channel(c1.green, c2.green, k),
                            channel(c1.blue, c2.blue, k));
        if (horizontal)
            dc.fillRect(QRect(p, box.top, 1, sub(box.bottom, box.top)), colour);
        else
            dc.fillRect(QRect(box.left, p, sub(box.right, box.left), 1), colour);
    }
}

// Windows system colour indices and the palette entries that play their part here.
struct SystemColour {
    QPalette::ColorGroup group;
    QPalette::ColorRole role;
};

constexpr QPalette::ColorGroup kActive = QPalette::Active;
constexpr QPalette::ColorGroup kInactive = QPalette::Inactive;
const SystemColour kSystemColours[] = {
    {kActive, QPalette::Button},               // 0 scroll bar
    {kActive, QPalette::Window},               // 1 desktop
    {kActive, QPalette::Highlight},            // 2 active caption
    {kInactive, QPalette::Highlight},          // 3 inactive caption
    {kActive, QPalette::Window},               // 4 menu
    {kActive, QPalette::Base},                 // 5 window
    {kActive, QPalette::Shadow},               // 6 window frame
    {kActive, QPalette::WindowText},           // 7 menu text
    {kActive, QPalette::Text},                 // 8 window text
    {kActive, QPalette::HighlightedText},      // 9 caption text
    {kActive, QPalette::Button},               // 10 active border
    {kInactive, QPalette::Button},             // 11 inactive border
    {kActive, QPalette::Mid},                  // 12 application workspace
    {kActive, QPalette::Highlight},            // 13 highlight
    {kActive, QPalette::HighlightedText},      // 14 highlight text
    {kActive, QPalette::Button},               // 15 button face
    {kActive, QPalette::Dark},                 // 16 button shadow
    {QPalette::Disabled, QPalette::Text},      // 17 grey text
    {kActive, QPalette::ButtonText},           // 18 button text
    {kInactive, QPalette::HighlightedText},    // 19 inactive caption text
    {kActive, QPalette::Light},                // 20 button highlight
    {kActive, QPalette::Shadow},               // 21 3D dark shadow
    {kActive, QPalette::Midlight},             // 22 3D light
    {kActive, QPalette::ToolTipText},          // 23 info text
    {kActive, QPalette::ToolTipBase},          // 24 info background
    {kActive, QPalette::NoRole},               // 25 unused
    {kActive, QPalette::Link},                 // 26 hot-tracked item
    {kActive, QPalette::Highlight},            // 27 active caption gradient
    {kInactive, QPalette::Highlight},          // 28 inactive caption gradient
    {kActive, QPalette::Highlight},            // 29 menu highlight
    {kActive, QPalette::Window},               // 30 menu bar
};

}  // namespace

XP_ProgressBar::XP_ProgressBar(QWidget* parent) : QWidget(parent) {
    QFont textFont(QStringLiteral("Tahoma"), 8);
    textFont.setStyleHint(QFont::SansSerif);
    setFont(textFont);
    QPalette background = palette();
    background.setColor(QPalette::Window, toQColor(kBackground));
    setPalette(background);
    setAutoFillBackground(true);
    // A new widget has no size of its own yet; the first Resize makes the back buffer.
    mDrawDC = this;
    setHwnd(this);
    setMax(100);
    setMin(0);
    setValue(0);
    setOrientation(0);
    setScrolling(0);
    setColor(kSystemHighlight);
    DrawProgressBar();
}

XP_ProgressBar::~XP_ProgressBar() { FreeBackBuffer(); }

void XP_ProgressBar::setColor(uint32_t lColor) { mColor = ResolveColor(lColor); }

void XP_ProgressBar::setHdc(QPaintDevice* /*cHdc*/) {
    QPaintDevice* buffer = EnsureBackBuffer(width(), height());
    mBuffered = buffer != nullptr;
    mDrawDC = mBuffered ? buffer : this;
}

void XP_ProgressBar::setShowText(bool bShowText) {
    mShowText = bShowText;
    DrawProgressBar();
}

void XP_ProgressBar::setValue(int32_t cValue) {
    mValue = cValue;
    DrawProgressBar();
}

uint32_t XP_ProgressBar::ResolveColor(uint32_t c) {
    if ((c & 0x80000000u) == 0) return c;
    const uint32_t index = c & 0x7FFFFFFFu;
    if (index >= std::size(kSystemColours) || kSystemColours[index].role == QPalette::NoRole) return 0;
    const SystemColour& entry = kSystemColours[index];
    return toColorRef(QGuiApplication::palette().color(entry.group, entry.role));
}

uint32_t XP_ProgressBar::LightenColor(uint32_t col, int32_t amount) {
    const auto lighten = [amount](uint32_t v) {
        const int64_t moved = amount + (int64_t(255) - amount) * v / 255;
        return uint32_t(std::clamp<int64_t>(moved, 0, 255));
    };
    const uint32_t red = col & 255;
    const uint32_t green = (col / 256) % 256;
    const uint32_t blue = (col / 65536) % 256;
    return lighten(red) + lighten(green) * 256 + lighten(blue) * 65536;
}

GradientColor XP_ProgressBar::SplitColor16(uint32_t col) {
    GradientColor c;
    c.red = uint16_t((col & 0xFF) << 8);
    c.green = uint16_t(((col >> 8) & 0xFF) << 8);
    c.blue = uint16_t(((col >> 16) & 0xFF) << 8);
    return c;
}

QPaintDevice* XP_ProgressBar::EnsureBackBuffer(int32_t width, int32_t height) {
    if (mBuffer.isNull()) {
        if (width > 0 && height > 0) CreateBackBuffer(width, height);
    } else if (height > mBufferHeight || width > mBufferWidth) {
        CreateBackBuffer(width, height);
    }
    return mBuffer.isNull() ? nullptr : &mBuffer;
}

void XP_ProgressBar::CreateBackBuffer(int32_t cx, int32_t cy) {
    FreeBackBuffer();
    QImage image(cx, cy, QImage::Format_RGB32);
    // Out of memory or a side of zero: no buffer, passes paint straight on the widget.
    if (image.isNull()) return;
    image.fill(Qt::white);  // nothing undefined reaches the screen before the first pass
    mBuffer = std::move(image);
    mBufferWidth = cx;
    mBufferHeight = cy;
}

void XP_ProgressBar::FreeBackBuffer() {
    mBuffer = QImage();
    mBufferWidth = 0;
    mBufferHeight = 0;
}

void XP_ProgressBar::pDraw(QPaintDevice* hdc, int32_t xSrc, int32_t ySrc, int32_t WidthSrc, int32_t HeightSrc,
                           int32_t xDst, int32_t yDst) {
    if (!hdc || mBuffer.isNull()) return;
    const int32_t w = WidthSrc < 1 ? mBufferWidth : WidthSrc;
    const int32_t h = HeightSrc < 1 ? mBufferHeight : HeightSrc;
    QPainter dc(hdc);
    dc.setCompositionMode(QPainter::CompositionMode_Source);
    dc.drawImage(QPoint(xDst, yDst), mBuffer, QRect(xSrc, ySrc, w, h));
}

void XP_ProgressBar::DrawProgressBar() {
    // The widget itself can only be painted on inside its paint event.
    if (mBuffered || mPainting) {
        QPainter dc(mDrawDC);
        runPass(dc);
    }
    if (!mPainting) {
        update();  // the paint that follows shows this pass
        return;
    }
    if (mBuffered) pDraw(this, 0, 0, width(), height(), 0, 0);
}

void XP_ProgressBar::runPass(QPainter& dc) {
    const QRect client = mHwnd ? mHwnd->rect() : QRect();
    mClientRect = {0, 0, client.width(), client.height()};
    FillBox(mClientRect, kBackground, dc);
    try {
        ComputeBarRect();
        DrawBarBody(dc);
        if (mScrolling == 0) DrawBlockGaps(dc);
        DrawPercentText(dc);
        DrawBorder(dc);
    } catch (const PassStopped&) {
        // An overflow leaves the pass where it stood; an error escaping a paint would end the program.
    }
}

void XP_ProgressBar::ComputeBarRect() {
    mBarRect = mClientRect;
    const int32_t filled = sub(mValue, mMin);
    const int32_t range = sub(mMax, mMin);
    // An empty range draws an empty bar rather than failing the pass.
    double f = range == 0 ? 0.0 : double(filled) / double(range);
    if (f > 1) f = 1;
    if (!(f >= 0)) f = 0;
    if (mOrientation == 0) {
        int32_t x = roundHalfEven(f * mClientRect.right);
        // % keeps the dividend's sign: the end snaps toward the empty side.
        x = sub(x, sub(x, mBarRect.left) % kBlockPitch);
        mBarRect.right = std::max(x, mClientRect.left);
    } else {
        // Lifted by 2 % of the height, so a tall bar shows a block at the minimum.
        const double g = 1.0 - f - 0.02;
        int32_t y = roundHalfEven(g * mClientRect.bottom);
        y = sub(y, sub(y, mBarRect.bottom) % kBlockPitch);
        mBarRect.top = std::min(y, mClientRect.bottom);
    }
}

void XP_ProgressBar::DrawBarBody(QPainter& dc) {
    const uint32_t K = mColor;
    const int32_t X = mBarRect.right;
    const int32_t Y = mBarRect.top;
    const int32_t W = mClientRect.right;
    const int32_t H = mClientRect.bottom;
    const bool horizontal = mOrientation == 0;
    if (mScrolling != kMarqueeStyle) {
        const GradientColor light = SplitColor16(LightenColor(K, kEdgeLightening));
        const GradientColor full = SplitColor16(K);
        if (horizontal) {
            FillGradient(dc, 2, 3, sub(X, 2), kEdgeBand, light, full, GradientDirection::Vertical);
            FillBox({2, 8, X, sub(H, 6)}, K, dc);
            FillGradient(dc, 2, sub(H, 8), sub(X, 2), kEdgeBand, full, light, GradientDirection::Vertical);
        } else {
            // The side bands run past the bottom edge, where the device clips them.
            FillGradient(dc, 2, Y, kEdgeBand, H, light, full, GradientDirection::Horizontal);
            FillBox({7, Y, sub(W, 8), H}, K, dc);
            FillGradient(dc, sub(W, 8), Y, kEdgeBand, H, full, light, GradientDirection::Horizontal);
        }
        return;
    }
    // Marquee: three blocks from the value's position on, palest first.
    for (int32_t i = 0; i < kMarqueeBlocks; ++i) {
        const uint32_t edge = LightenColor(K, sub(220, mul(40, i)));
        const uint32_t middle = LightenColor(K, sub(200, mul(40, i)));
        const GradientColor a = SplitColor16(edge);
        const GradientColor b = SplitColor16(middle);
        const int32_t offset = mul(kMarqueePitch, i);
        if (horizontal) {
            const int32_t xi = add(X, offset);
            FillGradient(dc, xi, 3, kMarqueeBlock, kEdgeBand, a, b, GradientDirection::Vertical);
            FillBox({xi, 8, add(xi, kMarqueeBlock), sub(H, 6)}, middle, dc);
            FillGradient(dc, xi, sub(H, 8), kMarqueeBlock, kEdgeBand, b, a, GradientDirection::Vertical);
        } else {
            const int32_t yi = add(Y, offset);
            FillGradient(dc, 2, yi, kEdgeBand, kMarqueeBlock, a, b, GradientDirection::Vertical);
            FillBox({8, yi, sub(W, 8), add(yi, kMarqueeBlock)}, middle, dc);
            FillGradient(dc, sub(W, 8), yi, kEdgeBand, kMarqueeBlock, b, a, GradientDirection::Vertical);
        }
    }
}

void XP_ProgressBar::DrawBlockGaps(QPainter& dc) {
    const QColor gap = toQColor(kBackground);
    if (mOrientation == 0) {
        for (int32_t x = add(mBarRect.left, kBlockWidth); x <= mBarRect.right; x = add(x, kBlockPitch))
            dc.fillRect(toQRect({add(x, 2), mClientRect.top, add(x, 4), mClientRect.bottom}), gap);
        return;
    }
    const int32_t lowestGapEnd = add(mBarRect.top, kBlockWidth);
    for (int32_t y = mBarRect.bottom; y >= lowestGapEnd; y = sub(y, kBlockPitch))
        dc.fillRect(toQRect({mClientRect.left, sub(y, kBlockGap), mClientRect.right, y}), gap);
}

QString XP_ProgressBar::PercentText() const {
    if (mScrolling == kMarqueeStyle) return QStringLiteral("Searching..");
    try {
        const int32_t scaled = mul(sub(mValue, mMin), 100);
        const int32_t range = sub(mMax, mMin);
        const int32_t percent = range == 0 ? 0 : roundHalfEven(double(scaled) / range);
        return QString::number(percent) + QStringLiteral(" %");
    } catch (const PassStopped&) {
        return {};
    }
}

void XP_ProgressBar::DrawPercentText(QPainter& dc) {
    if (!mShowText) return;
    const QString text = PercentText();
    if (text.isEmpty()) throw PassStopped{};
    dc.save();
    dc.setFont(font());
    dc.setPen(toQColor(kTextColor));
    dc.drawText(toQRect(mClientRect), Qt::AlignCenter | Qt::TextSingleLine, text);
    dc.restore();
}

void XP_ProgressBar::DrawBorder(QPainter& dc) {
    const int32_t W = mClientRect.right;
    const int32_t H = mClientRect.bottom;
    FrameBox({1, 1, W, H}, kFrameOuterLight, dc);
    FrameBox({1, 2, sub(W, 1), sub(H, 1)}, kFrameInnerLight, dc);
    FrameBox({0, 0, W, H}, kFrameDark, dc);
    const int32_t right = sub(W, 2);
    const int32_t bottom = sub(H, 2);
    SetPixelV(dc, 1, 1, kFrameDark);
    SetPixelV(dc, right, 1, kFrameDark);
    SetPixelV(dc, 1, bottom, kFrameDark);
    SetPixelV(dc, right, bottom, kFrameDark);
}

void XP_ProgressBar::SetRoundedRegion(const BoxRect& rect, QWidget* window) {
    const int32_t W = rect.right;
    const int32_t H = rect.bottom;
    QRegion shape(0, 0, W, H);
    const QRect cuts[] = {
        {0, 0, 2, 1},     {W - 2, 0, 2, 1},     {0, H - 1, 2, 1},     {W - 2, H - 1, 2, 1},
        {0, 1, 1, 1},     {W - 1, 1, 1, 1},     {0, H - 2, 1, 1},     {W - 1, H - 2, 1, 1},
    };
    for (const QRect& cut : cuts) shape -= QRegion(cut);
    window->setMask(shape);
}

void XP_ProgressBar::applyRoundedRegion() {
    if (mRegionSize == size() || width() <= 0 || height() <= 0) return;
    mRegionSize = size();
    SetRoundedRegion({0, 0, width(), height()}, this);
}

void XP_ProgressBar::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    setHdc(mDrawDC);
    applyRoundedRegion();
}

void XP_ProgressBar::paintEvent(QPaintEvent* /*event*/) {
    mPainting = true;
    DrawProgressBar();
    mPainting = false;
    // Cut only when the size changed: re-cutting from every paint would schedule paints without end.
    applyRoundedRegion();
}

}  // namespace clipwren
