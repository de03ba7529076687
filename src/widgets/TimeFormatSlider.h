#pragma once
// Slider with an integer value and a range set at run time. valueChanged is raised
// for every change, also one made by the program; userStartsMoving and
// userEndsMoving only around a change the user makes with the mouse or the keyboard.
#include <QSlider>
#include <functional>

namespace clipwren {

class TimeFormatSlider : public QSlider {
    Q_OBJECT
public:
    explicit TimeFormatSlider(Qt::Orientation orientation, QWidget* parent = nullptr);

    // When set, the tooltip shows the value through this formatter (time text for
    // a position slider) and follows the thumb while it is dragged.
    void setTooltipFormatter(std::function<QString(int)> formatter);
    bool tooltipFormatsTime() const { return static_cast<bool>(formatter_); }

signals:
    void userStartsMoving();
    void userEndsMoving();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    void updateTooltip(int value);
    int valueAt(const QPoint& point) const;
    void asOneUserMove(const std::function<void()>& move);

    std::function<QString(int)> formatter_;
    bool userMoving_ = false;
};

}  // namespace clipwren
