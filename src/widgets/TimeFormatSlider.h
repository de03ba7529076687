#pragma once
// Slider with an integer value and a range set at run time. valueChanged is raised
// for every change, also one made by the program; userStartsMoving and
// userEndsMoving only around a change the user makes with the mouse or the keyboard.
//
// A horizontal slider can show a sound in its groove instead of the plain look: the
// envelope as one vertical stroke per position of the thumb, a begin and an end mark
// as two flags with the marked range shaded between them, and the thumb as a play
// head. A flag can be dragged; the owner hears of it through markMoved and keeps the
// mark wherever it lives.
#include <QSlider>
#include <functional>
#include <optional>
#include <vector>

namespace clipwren {

class TimeFormatSlider : public QSlider {
    Q_OBJECT
public:
    enum class Mark { Begin, End };

    explicit TimeFormatSlider(Qt::Orientation orientation, QWidget* parent = nullptr);

    // When set, the tooltip shows the value through this formatter (time text for
    // a position slider) and follows the thumb while it is dragged.
    void setTooltipFormatter(std::function<QString(int)> formatter);
    bool tooltipFormatsTime() const { return static_cast<bool>(formatter_); }

    // Shows the sound: for each of waveformColumns() thumb positions, from the
    // minimum to the maximum, the lowest and highest sample (-1..1; NaN where not
    // known yet). Empty vectors show an empty groove, a sound still to come.
    void setWaveform(std::vector<float> low, std::vector<float> high);
    // Back to the plain slider.
    void clearWaveform();
    bool showsWaveform() const { return showsWaveform_; }
    int waveformColumns() const;
    // The marks, in the slider's units; a missing one has no flag.
    void setMarks(std::optional<int> begin, std::optional<int> end);
    std::optional<int> mark(Mark which) const { return which == Mark::Begin ? begin_ : end_; }
    // Where a mark's flag is drawn: the part of it that can be grabbed.
    QRect flagRect(Mark which) const;

    // Moves the thumb as the slider's own keys do, as one move of the user's.
    void moveByUser(SliderAction action);
    // Puts the thumb at value as one move of the user's.
    void setValueByUser(int value);

signals:
    void userStartsMoving();
    void userEndsMoving();
    // The user drags a flag: the mark now stands at value.
    void markMoved(clipwren::TimeFormatSlider::Mark mark, int value);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    // Where the thumb's centre can go: x of the minimum and the pixels to the maximum.
    struct Track {
        int left = 0;
        int span = 0;
    };
    Track track() const;
    bool upsideDown() const;
    int xOf(int value) const;
    void updateTooltip(int value);
    void showTooltip(const QString& text);
    int valueAt(const QPoint& point) const;
    void asOneUserMove(const std::function<void()>& move);
    std::optional<Mark> flagAt(const QPoint& point) const;
    void paintWaveform();

    std::function<QString(int)> formatter_;
    bool userMoving_ = false;
    bool showsWaveform_ = false;
    std::vector<float> low_;
    std::vector<float> high_;
    std::optional<int> begin_;
    std::optional<int> end_;
    std::optional<Mark> draggedFlag_;
    // Where on the flag it was grabbed, so the mark does not jump to the pointer.
    int flagGrabOffset_ = 0;
};

}  // namespace clipwren
