#include "components/decode/OpenInBackground.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <thread>

namespace clipwren::decode {

Result<std::unique_ptr<AudioDecoder>> openInBackground(const QString& path, int outputRate, int outputChannels) {
    // Outside a running event loop (the program's start-up, before its loop runs) events
    // are not handled anyway, and handling them there could close the window before
    // the program's loop has started, leaving it to run without one.
    if (!QCoreApplication::instance() || QThread::currentThread()->loopLevel() == 0)
        return AudioDecoder::open(path, outputRate, outputChannels);
    Result<std::unique_ptr<AudioDecoder>> decoder{Failure()};
    QEventLoop loop;
    bool finished = false;  // this thread only
    // The end is queued to this thread: posted before exec() starts, it still ends it.
    std::thread worker([&] {
        decoder = AudioDecoder::open(path, outputRate, outputChannels);
        QMetaObject::invokeMethod(
            &loop,
            [&] {
                finished = true;
                loop.quit();
            },
            Qt::QueuedConnection);
    });
    const int exitCode = loop.exec(QEventLoop::ExcludeUserInputEvents);
    worker.join();
    // Anything else that ends this loop is QCoreApplication::exit(): the program is
    // ending (a signal closed the window). That ended only the loops running now, this
    // one among them, so it is asked again of the loop that runs next, or the program
    // would go on without its window.
    if (!finished)
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [exitCode] { QCoreApplication::exit(exitCode); }, Qt::QueuedConnection);
    return decoder;
}

}  // namespace clipwren::decode
