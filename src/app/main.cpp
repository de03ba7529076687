#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>
#include <cstdio>
#include <memory>

extern "C" {
#include <libavutil/log.h>
}

#include "components/player/PulseOutput.h"
#include "core/InterruptNotifier.h"
#include "core/OutputLocation.h"
#include "editor/frmMain.h"
#include "platform/Dialogs.h"
#include "platform/DocumentOpener.h"

namespace {

// The sound system: PulseAudio's protocol, which PipeWire serves as well. With
// CLIPWREN_AUDIO=silent the program plays without sound on purpose, and the status
// line says nothing about a missing device.
std::unique_ptr<clipwren::player::AudioOutputFactory> soundOutputs() {
    if (qgetenv("CLIPWREN_AUDIO") == "silent") return std::make_unique<clipwren::player::SilentOutputFactory>();
    return std::make_unique<clipwren::player::PulseOutputFactory>();
}

constexpr const char* kHelpText =
    "Usage: clipwren [FILE]\n"
    "\n"
    "Opens Clipwren Pro's window to cut a piece out of an audio file, with FILE\n"
    "loaded when one is given.\n"
    "\n"
    "  -h, --help     show this text\n"
    "  -v, --version  show the version\n"
    "\n"
    "Qt's own options, such as -style NAME and -platform NAME, work as in every Qt\n"
    "program. The cut without the window is clipwren-cut.\n";

// --help and --version are answered before the window system is reached, so they
// work without a display. Anything the parser does not know (Qt's own options, a file
// name) is left to the application.
bool answeredFromCommandLine(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    QCommandLineParser parser;
    const QCommandLineOption help(QStringList{"h", "help"});
    const QCommandLineOption version(QStringList{"v", "version"});
    parser.addOptions({help, version});
    if (!parser.parse(arguments)) return false;
    if (parser.isSet(help)) std::fputs(kHelpText, stdout);
    else if (parser.isSet(version)) std::fputs("clipwren " CLIPWREN_VERSION "\n", stdout);
    else return false;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace clipwren;
    if (answeredFromCommandLine(argc, argv)) return 0;
    // FFmpeg's notes and warnings (encoder statistics, duration guesses) mean nothing to
    // the user; real failures reach the window as error codes.
    av_log_set_level(AV_LOG_ERROR);
    QApplication app(argc, argv);
    // The title of the program's message boxes. Set as the application's name, not its
    // display name: Qt appends a display name to every window title, and the dialogs'
    // titles must stand as they are.
    QApplication::setApplicationName(QStringLiteral("Clipwren Pro"));
    // The desktop entry the window belongs to (its application id under Wayland), and the
    // icon installed with it, so that panels and task switchers show the program's own.
    QGuiApplication::setDesktopFileName(QStringLiteral("clipwren"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("clipwren")));
    platform::DialogProvider dialogs;
    platform::DocumentOpener opener;
    const std::unique_ptr<SettingsStore> settings = OutputLocation::userStore();
    const waveform::PeakCache peakCache(waveform::PeakCache::defaultFolder());
    const std::unique_ptr<player::AudioOutputFactory> outputs = soundOutputs();
    try {
        frmMain window({dialogs, opener, *settings, peakCache, *outputs});
        // A logout, `kill` or Ctrl+C closes the window as its close button does: a cut
        // in progress is cancelled and leaves no file behind.
        InterruptNotifier interrupts;
        QObject::connect(&interrupts, &InterruptNotifier::interrupted, &window, &QWidget::close);
        window.show();
        // The desktop's "Open with" hands over the file to work on.
        if (const QStringList arguments = QApplication::arguments(); arguments.size() == 2)
            window.openAudioFile(arguments.at(1));
        return app.exec();
    } catch (const StartUpError& error) {
        dialogs.message(nullptr, QString::fromStdString(error.what()), platform::applicationTitle(),
                        platform::MessageIcon::Error);
        return 1;
    }
}
