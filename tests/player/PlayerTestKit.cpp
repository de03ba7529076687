#include "PlayerTestKit.h"

#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <gtest/gtest.h>

namespace playertest {

bool waitFor(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(2);
    }
    return true;
}

void spin(int ms) {
    QElapsedTimer timer;
    timer.start();
    waitFor([&] { return timer.elapsed() >= ms; }, ms + 1000);
}

PlayerFixture::PlayerFixture(int64_t recordFrames)
    : sound(recordFrames), player(std::make_unique<clipwren::SoundPlayer>(sound)) {
    EXPECT_EQ(player->StartUp(1, nullptr, 0, 0, 0, 0), 0);
    EXPECT_EQ(sound.rate(), kRate);
}

QString PlayerFixture::clickWav(const QString& name, double seconds, const std::vector<int64_t>& clickFrames) {
    auto samples = testsupport::tone(kRate, 2, int64_t(seconds * kRate), 440.0, 0.1);
    for (int64_t frame : clickFrames) testsupport::addClick(samples, 2, frame, 0.9f);
    const QString file = path(name);
    testsupport::writeWav(file, kRate, 2, samples);
    return file;
}

}  // namespace playertest
