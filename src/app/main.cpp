#include <QApplication>

#include "editor/frmMain.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    clipwren::frmMain window;
    window.show();
    return app.exec();
}
