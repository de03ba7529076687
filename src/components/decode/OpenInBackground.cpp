#include "components/decode/OpenInBackground.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <thread>

namespace clipwren::decode {

std::unique_ptr<AudioDecoder> openInBackground(const QString& path, int outputRate, int outputChannels,
                                               int32_t* error) {
    if (!QCoreApplication::instance()) return AudioDecoder::open(path, outputRate, outputChannels, error);
    std::unique_ptr<AudioDecoder> decoder;
    int32_t code = 0;
    QEventLoop loop;
    // The quit is queued to this thread: posted before exec() starts, it still ends it.
    std::thread worker([&] {
        decoder = AudioDecoder::open(path, outputRate, outputChannels, &code);
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    worker.join();
    if (error) *error = code;
    return decoder;
}

}  // namespace clipwren::decode
