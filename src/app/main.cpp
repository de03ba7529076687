#include <QApplication>

extern "C" {
#include <libavutil/log.h>
}

#include "editor/frmMain.h"
#include "platform/Dialogs.h"

int main(int argc, char** argv) {
    // FFmpeg's notes and warnings (encoder statistics, duration guesses) mean nothing to
    // the user; real failures reach the window as error codes.
    av_log_set_level(AV_LOG_ERROR);
    QApplication app(argc, argv);
    // The title of the program's message boxes; the settings keep the executable's name.
    // Set as the application's name, not its display name: Qt appends a display name to
    // every window title, and the dialogs' titles must stand as they are.
    QApplication::setApplicationName(QStringLiteral("Clipwren Pro"));
    try {
        clipwren::frmMain window;
        window.show();
        // The desktop's "Open with" hands over the file to work on.
        if (const QStringList arguments = QApplication::arguments(); arguments.size() == 2)
            window.openAudioFile(arguments.at(1));
        return app.exec();
    } catch (const clipwren::StartUpError& error) {
        clipwren::platform::dialogs().message(nullptr, QString::fromStdString(error.what()),
                                              clipwren::platform::applicationTitle(),
                                              clipwren::platform::MessageIcon::Error);
        return 1;
    }
}
