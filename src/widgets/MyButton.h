#pragma once
// Picture button: an icon above the caption (beside it on a button too short for
// that), or a picture alone. The background is the system button colour, turning
// lavender under the pointer or while pressed; the border is dark blue. On a dark
// background (a dark colour scheme) the border, the icons and the caption take lighter
// variants of their colours, so that each stands out.
#include <QAbstractButton>
#include <QColor>

namespace clipwren {

class MyButton : public QAbstractButton {
    Q_OBJECT
public:
    // The icons are drawn by the button itself, so no image files are needed.
    enum class Picture {
        None, OpenInput, SaveOutput, Folder, Play, Pause, Stop, MarkBegin, MarkEnd,
        ClearBegin, ClearEnd, PlayMarked, Save, Help, Reset, Logo
    };

    static inline const QColor kHotColor{175, 168, 207};
    static inline const QColor kBorderColor{0, 0, 127};

    explicit MyButton(QWidget* parent = nullptr);

    void setPicture(Picture picture);
    Picture picture() const { return picture_; }
    // The web-link button keeps the plain button look under the pointer.
    void setHotTracking(bool on);
    bool hotTracking() const { return hotTracking_; }
    // The colour the background is painted in right now.
    QColor backgroundColor() const;

    QSize sizeHint() const override;

protected:
    // Space and Return press the focused button; no window-wide key takes them from it.
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    Picture picture_ = Picture::None;
    bool hotTracking_ = true;
};

}  // namespace clipwren
