#pragma once
// The program's own progress bar: a gradient bar of blocks in a thin grey frame.
#include <QWidget>
#include <cstdint>

namespace clipwren {

class XP_ProgressBar : public QWidget {
    Q_OBJECT
public:
    explicit XP_ProgressBar(QWidget* parent = nullptr);
    int32_t Value() const { return mValue; }
    // Stores the value unchanged and redraws at once.
    void setValue(int32_t value);

private:
    int32_t mValue = 0;
};

}  // namespace clipwren
