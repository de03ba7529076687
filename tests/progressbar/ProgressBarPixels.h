#pragma once
// Progress bars shown offscreen inside a host window, and their back buffers read as pixels.
#include <gtest/gtest.h>

#include <QImage>
#include <QTest>
#include <QWidget>
#include <cstdint>

#include "progressbar/XP_ProgressBar.h"

namespace progressbartest {

class BarHost {
public:
    BarHost() {
        mHost.resize(600, 600);
        mHost.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&mHost));
    }
    // A shown bar of the given size; the host owns it.
    clipwren::XP_ProgressBar& bar(int width, int height) {
        auto* bar = new clipwren::XP_ProgressBar(&mHost);
        bar->resize(width, height);
        bar->show();
        return *bar;
    }

private:
    QWidget mHost;
};

// The control's own area of the back buffer, as the screen copy would show it.
inline QImage pixels(clipwren::XP_ProgressBar& bar) {
    QImage shot(bar.width(), bar.height(), QImage::Format_RGB32);
    shot.fill(Qt::magenta);
    bar.pDraw(&shot, 0, 0, bar.width(), bar.height(), 0, 0);
    return shot;
}

// 0x00BBGGRR, the colour layout of the control's properties.
inline uint32_t at(const QImage& image, int x, int y) {
    const QRgb c = image.pixel(x, y);
    return uint32_t(qRed(c)) | (uint32_t(qGreen(c)) << 8) | (uint32_t(qBlue(c)) << 16);
}

constexpr uint32_t kWhite = 0xFFFFFF;
constexpr uint32_t kRed = 0x0000FF;

}  // namespace progressbartest
