#pragma once
// The fades of the marked piece drawn over a position slider that shows a sound: a ramp
// up from the begin mark and one down to the end mark, each as long as its fade, in the
// fades' own curve, placed as the slider's view places values. A layer of its own over the slider, so the slider's picture stays its own;
// it lets every mouse event through.
#include <QWidget>
#include <functional>

namespace clipwren {

class TimeFormatSlider;

class FadeRampLayer : public QWidget {
    Q_OBJECT
public:
    // curve: the fades' shape, 0 at 0 rising to 1 at 1.
    FadeRampLayer(TimeFormatSlider& slider, std::function<double(double)> curve);
    // Lengths in the slider's units; 0 draws no ramp.
    void setFades(int fadeIn, int fadeOut);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    TimeFormatSlider& slider_;
    std::function<double(double)> curve_;
    int fadeIn_ = 0;
    int fadeOut_ = 0;
};

}  // namespace clipwren
