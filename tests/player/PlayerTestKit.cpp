#include "PlayerTestKit.h"

#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <cmath>
#include <cstring>
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

PlayerFixture::PlayerFixture() : player(std::make_unique<clipwren::SoundPlayer>()) {
    EXPECT_EQ(player->StartUp(1, nullptr, 0, 0, 0, 0), 0);
}

QString PlayerFixture::clickWav(const QString& name, double seconds, const std::vector<int64_t>& clickFrames) {
    auto samples = testsupport::tone(kRate, 2, int64_t(seconds * kRate), 440.0, 0.1);
    for (int64_t frame : clickFrames) testsupport::addClick(samples, 2, frame, 0.9f);
    const QString file = path(name);
    testsupport::writeWav(file, kRate, 2, samples);
    return file;
}

RecordingTap::RecordingTap(int64_t capacityFrames) : samples_(size_t(capacityFrames) * 2) {
    clipwren::player::setOutputTap(this);
}

RecordingTap::~RecordingTap() { clipwren::player::setOutputTap(nullptr); }

void RecordingTap::onAudio(const float* samples, int frames, int rate) {
    EXPECT_EQ(rate, kRate);
    const int64_t have = frames_.load(std::memory_order_relaxed);
    const int64_t take = std::min<int64_t>(frames, int64_t(samples_.size() / 2) - have);
    if (take > 0) {
        std::memcpy(samples_.data() + have * 2, samples, size_t(take) * 2 * sizeof(float));
        frames_.store(have + take, std::memory_order_release);
    }
    handed_.fetch_add(frames, std::memory_order_release);
}

int64_t RecordingTap::firstAbove(float threshold, int64_t from) const {
    const int64_t n = frames();
    for (int64_t f = from; f < n; ++f)
        if (std::fabs(samples_[size_t(f * 2)]) >= threshold || std::fabs(samples_[size_t(f * 2 + 1)]) >= threshold)
            return f;
    return -1;
}

}  // namespace playertest
