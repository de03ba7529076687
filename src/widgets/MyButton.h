#pragma once
// Picture button: an icon above the caption, or a picture alone.
#include <QAbstractButton>

namespace clipwren {

class MyButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit MyButton(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace clipwren
