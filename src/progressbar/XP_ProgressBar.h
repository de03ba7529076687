#pragma once
// The program's own progress bar: a gradient bar of blocks in a thin grey frame
// with cut corners. Every pass is composed in a back buffer and shown with one copy,
// so a percentage that changes many times a second does not flicker.
#include <QImage>
#include <QPointer>
#include <QWidget>
#include <cstdint>

class QPainter;
class QPaintDevice;

namespace clipwren {

// One vertex colour of a rectangle gradient: 8-bit channels in the high byte.
struct GradientColor {
    uint16_t red = 0;
    uint16_t green = 0;
    uint16_t blue = 0;
    uint16_t alpha = 0;
};

// Platform rectangle: left/top inclusive, right/bottom exclusive.
struct BoxRect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
};

class XP_ProgressBar : public QWidget {
    Q_OBJECT
public:
    // Colours are 0x00BBGGRR; bit 31 set names a system colour by its index.
    static constexpr uint32_t kSystemHighlight = 0x8000000D;

    // Initialize: Tahoma 8 pt, white background, range 0..100, value 0, horizontal
    // blocks, no text, the highlight colour; draws once.
    explicit XP_ProgressBar(QWidget* parent = nullptr);
    // Terminate: the back buffer goes with the control.
    ~XP_ProgressBar() override;

    uint32_t Color() const { return mColor; }
    // Stored resolved, so a system colour code reads back as its RGB value. No redraw.
    void setColor(uint32_t lColor);

    // The text font is the widget's own font (QWidget::font/setFont).
    QFont Font() const { return font(); }

    // The window whose client rectangle a pass measures (the control itself by default).
    QWidget* hwnd() const { return mHwnd; }
    void setHwnd(QWidget* chWnd) { mHwnd = chWnd; }

    // Where passes paint: the back buffer, or the widget itself when there is none.
    QPaintDevice* hdc() const { return mDrawDC; }
    // The value is ignored: the write re-checks the back buffer for the current size.
    void setHdc(QPaintDevice* cHdc);

    int32_t Min() const { return mMin; }
    void setMin(int32_t cMin) { mMin = cMin; }
    int32_t Max() const { return mMax; }
    void setMax(int32_t cMax) { mMax = cMax; }
    // 0 fills left to right; anything else fills bottom to top.
    int32_t Orientation() const { return mOrientation; }
    void setOrientation(int32_t cOrientation) { mOrientation = cOrientation; }
    // 0 blocks with gaps, 2 "searching" marquee, anything else one smooth bar.
    int32_t Scrolling() const { return mScrolling; }
    void setScrolling(int32_t lScrolling) { mScrolling = lScrolling; }

    bool ShowText() const { return mShowText; }
    // Stores and redraws at once.
    void setShowText(bool bShowText);

    int32_t Value() const { return mValue; }
    // Stores the value unchanged (not clamped) and redraws at once.
    void setValue(int32_t cValue);

    // One complete pass: clear, bar, gaps, text, frame, then show. Never throws:
    // an arithmetic overflow ends the pass after the background.
    void DrawProgressBar();

    // Copies a rectangle of the back buffer to hdc in plain copy mode.
    // A width or height below 1 means the whole buffer's.
    void pDraw(QPaintDevice* hdc, int32_t xSrc, int32_t ySrc, int32_t WidthSrc, int32_t HeightSrc,
               int32_t xDst, int32_t yDst);

    // The centred text: "Searching.." for the marquee, else the percentage of the range
    // followed by " %" (the value itself for 0..100). Empty when the arithmetic overflows.
    QString PercentText() const;

    // Size of the back buffer; empty while there is none.
    QSize BufferSize() const { return {mBufferWidth, mBufferHeight}; }

    // Each channel moved toward white by amount (0 keeps the colour, 255 gives white).
    static uint32_t LightenColor(uint32_t col, int32_t amount);
    static GradientColor SplitColor16(uint32_t col);
    // System colour codes resolved from the application palette; plain RGB unchanged.
    static uint32_t ResolveColor(uint32_t c);
    // Window shape with three pixels cut at each corner.
    static void SetRoundedRegion(const BoxRect& rect, QWidget* window);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QSize clientSize() const;
    QPaintDevice* EnsureBackBuffer(int32_t width, int32_t height);
    void CreateBackBuffer(int32_t cx, int32_t cy);
    void FreeBackBuffer();
    void applyRoundedRegion();

    void runPass(QPainter& dc);
    void ComputeBarRect();
    void DrawBarBody(QPainter& dc);
    void DrawBlockGaps(QPainter& dc);
    void DrawPercentText(QPainter& dc);
    void DrawBorder(QPainter& dc);

    uint32_t mColor = 0;
    QPointer<QWidget> mHwnd;
    QPaintDevice* mDrawDC = nullptr;
    int32_t mMin = 0;
    int32_t mMax = 100;
    int32_t mValue = 0;
    int32_t mOrientation = 0;
    int32_t mScrolling = 0;
    bool mShowText = false;
    bool mBuffered = false;
    QImage mBuffer;
    int32_t mBufferWidth = 0;
    int32_t mBufferHeight = 0;
    BoxRect mClientRect;
    BoxRect mBarRect;

    // True inside paintEvent: the only time the widget itself can be painted on.
    bool mPainting = false;
    // Size the window shape was last cut for; the shape is re-applied only when it changes.
    QSize mRegionSize;
};

}  // namespace clipwren
