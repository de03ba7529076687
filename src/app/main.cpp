#include <QApplication>
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

}  // namespace

int main(int argc, char** argv) {
    using namespace clipwren;
    // FFmpeg's notes and warnings (encoder statistics, duration guesses) mean nothing to
    // the user; real failures reach the window as error codes.
    av_log_set_level(AV_LOG_ERROR);
    QApplication app(argc, argv);
    // The title of the program's message boxes. Set as the application's name, not its
    // display name: Qt appends a display name to every window title, and the dialogs'
    // titles must stand as they are.
    QApplication::setApplicationName(QStringLiteral("Clipwren Pro"));
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
