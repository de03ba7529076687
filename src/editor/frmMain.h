#pragma once
// The main window.
#include <QWidget>

namespace clipwren {

class frmMain : public QWidget {
    Q_OBJECT
public:
    explicit frmMain(QWidget* parent = nullptr);
};

}  // namespace clipwren
