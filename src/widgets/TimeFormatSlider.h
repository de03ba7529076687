#pragma once
// Slider with an integer value and a range set at run time. valueChanged is raised
// for every change, also one made by the program; userStartsMoving and
// userEndsMoving only around a change the user makes with the mouse or the keyboard.
//
// A horizontal slider can show a sound in its groove instead of the plain look: the
// envelope, a begin and an end mark as two flags with the marked range shaded between
// them, and the thumb as a play head. A flag can be dragged by its pennant or along its
// staff; the owner hears of it through markMoved and keeps the mark wherever it lives.
//
// Showing a sound, the slider can zoom in on part of it: the wheel zooms around the
// pointer, Shift+wheel or the middle button pans, and a thin overview along the foot
// shows which part is in view (a click there moves the view, a double-click shows the
// whole sound). Zooming changes only how pixels map to values: value, range, steps and
// the moving notifications are those of the whole slider. While zoomed in, a value
// that walks off the view turns the page. The owner gives a finer picture of the part
// in view when viewChanged asks for one.
#include <QSlider>
#include <functional>
#include <optional>
#include <vector>

class QPainter;

namespace clipwren {

class TimeFormatSlider : public QSlider {
    Q_OBJECT
public:
    enum class Mark { Begin, End };

    // A picture of the sound between the values `from` and `to`: either one extent per
    // column, column c centred on from + c * (to - from) / (columns - 1), lowest and
    // highest sample in -1..1 (NaN where not known yet); or, when `samples` is not
    // empty, the samples themselves evenly spaced from `from` to `to`, drawn as a line.
    struct SoundPicture {
        double from = 0;
        double to = 0;
        std::vector<float> low;
        std::vector<float> high;
        std::vector<float> samples;
    };
    // The part of the range in view.
    struct View {
        double from = 0;
        double to = 0;
    };

    explicit TimeFormatSlider(Qt::Orientation orientation, QWidget* parent = nullptr);

    // When set, the tooltip shows values through this formatter (time text for a
    // position slider): the value, or over a sound the value under the pointer, and
    // while a flag is dragged its mark and the length of the marked range.
    void setTooltipFormatter(std::function<QString(int)> formatter);
    bool tooltipFormatsTime() const { return static_cast<bool>(formatter_); }

    // Shows the sound: the whole range as waveformColumns() columns (see SoundPicture).
    // Empty vectors show an empty groove, a sound still to come.
    void setWaveform(std::vector<float> low, std::vector<float> high);
    // A finer picture of the part in view; kept until the next one, and drawn wherever
    // it covers the view.
    void setViewPicture(SoundPicture picture);
    // Back to the plain slider.
    void clearWaveform();
    bool showsWaveform() const { return showsWaveform_; }
    // Columns of a picture across the track: one per device pixel.
    int waveformColumns() const;
    // The marks, in the slider's units; a missing one has no flag.
    void setMarks(std::optional<int> begin, std::optional<int> end);
    std::optional<int> mark(Mark which) const { return which == Mark::Begin ? begin_ : end_; }
    // Where a mark's flag is drawn: its pennant, the part of it drawn at the top.
    QRect flagRect(Mark which) const;

    View view() const;
    bool isZoomed() const { return zoomed_; }
    // Zooms in by factor (out for a factor below 1) keeping `anchor` at its pixel;
    // from the whole range down to one unit per pixel. Only while showing a sound.
    void zoomBy(double factor, double anchor);
    void showWhole();
    // Moves the view by `delta` units, within the range.
    void pan(double delta);
    // The value at a point and the point of a value, as the view places them.
    int valueAt(const QPoint& point) const;
    int xOf(int value) const;

    // Moves the thumb as the slider's own keys do, as one move of the user's.
    void moveByUser(SliderAction action);
    // Puts the thumb at value as one move of the user's.
    void setValueByUser(int value);

signals:
    void userStartsMoving();
    void userEndsMoving();
    // The user drags a flag: the mark now stands at value.
    void markMoved(clipwren::TimeFormatSlider::Mark mark, int value);
    // The part in view changed: a finer picture of it may be given (setViewPicture).
    void viewChanged();

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void sliderChange(SliderChange change) override;

private:
    // Where the thumb's centre can go: x of the minimum and the pixels to the maximum.
    struct Track {
        int left = 0;
        int span = 0;
    };
    // Where the layers of a sound are drawn.
    struct Layout {
        Track track;
        int soundTop = 0;     // rows of the envelope
        int soundBottom = 0;
        QRect overview;       // the overview strip while zoomed in, else empty
    };
    // What the left button is doing.
    enum class Drag { None, Position, Flag, Overview, Pan };

    Track track() const;
    Layout layout() const;
    bool upsideDown() const;
    double xAt(double value) const;
    double valueAtX(double x) const;
    void updateTooltip(int value);
    void showTooltip(const QString& text);
    QString markTooltip(int value) const;
    int plainValueAt(const QPoint& point) const;
    void asOneUserMove(const std::function<void()>& move);
    std::optional<Mark> flagAt(const QPoint& point) const;
    bool onOverview(const QPoint& point) const;
    void centreViewOn(double value);
    // A view's length kept between one unit per pixel and the whole range.
    double viewLengthWithin(double length) const;
    void setView(double from, double length);
    void keepInView(int previous, int value);

    // The layers of a sound, back to front; each draws one thing over those before it.
    void paintWaveform();
    void paintGroove(QPainter& p, const Layout& l) const;
    void paintMarkedRange(QPainter& p, const Layout& l) const;
    void paintSound(QPainter& p, const Layout& l) const;
    void paintFlags(QPainter& p, const Layout& l) const;
    void paintPlayHead(QPainter& p, const Layout& l) const;
    void paintOverview(QPainter& p, const Layout& l) const;
    void paintFocusFrame(QPainter& p) const;

    std::function<QString(int)> formatter_;
    bool userMoving_ = false;
    bool showsWaveform_ = false;
    SoundPicture whole_;
    SoundPicture inView_;
    std::optional<int> begin_;
    std::optional<int> end_;
    Drag drag_ = Drag::None;
    std::optional<Mark> draggedFlag_;
    // Where on the flag it was grabbed, so the mark does not jump to the pointer.
    int flagGrabOffset_ = 0;
    // Where a pan with the middle button started: the pointer's x and the view's start.
    int panFromX_ = 0;
    double panFromView_ = 0;
    bool zoomed_ = false;
    double viewFrom_ = 0;
    double viewLength_ = 0;
    int shownValue_ = 0;
};

}  // namespace clipwren
