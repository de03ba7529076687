// Writes an enlarged picture of the bar at a few values, for a person to compare
// with how the bar should look: progressbar.png in the artefacts folder.
#include <gtest/gtest.h>

#include <QDir>
#include <QPainter>
#include <functional>

#include "ProgressBarPixels.h"
#include "support/TestSupport.h"

using clipwren::XP_ProgressBar;
using namespace progressbartest;

TEST(ProgressBarScreenshot, EnlargedBarsAtSeveralValues) {
    constexpr int kScale = 4;
    constexpr int kWidth = 450;
    constexpr int kHeight = 10;
    constexpr int kMargin = 6;
    const std::vector<std::function<void(XP_ProgressBar&)>> looks = {
        [](XP_ProgressBar& bar) { bar.setValue(0); },
        [](XP_ProgressBar& bar) { bar.setValue(5); },
        [](XP_ProgressBar& bar) { bar.setValue(7); },
        [](XP_ProgressBar& bar) { bar.setValue(50); },
        [](XP_ProgressBar& bar) { bar.setValue(100); },
        [](XP_ProgressBar& bar) {
            bar.setScrolling(2);
            bar.setValue(50);
        },
        [](XP_ProgressBar& bar) {
            bar.setShowText(true);
            bar.setValue(45);
        },
    };

    BarHost host;
    QImage sheet(kWidth + 2 * kMargin, int(looks.size()) * (kHeight + kMargin) + kMargin, QImage::Format_RGB32);
    sheet.fill(QColor(0xF0, 0xF0, 0xF0));  // a window's face, so the cut corners show
    QPainter painter(&sheet);
    int top = kMargin;
    for (const auto& look : looks) {
        XP_ProgressBar& bar = host.bar(kWidth, kHeight);
        look(bar);
        ASSERT_FALSE(bar.mask().isEmpty());
        painter.setClipRegion(bar.mask().translated(kMargin, top));
        painter.drawImage(kMargin, top, pixels(bar));
        top += kHeight + kMargin;
    }
    painter.end();

    const QImage enlarged = sheet.scaled(sheet.size() * kScale, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    const QString path = QDir(testsupport::artifactsDir()).filePath("progressbar.png");
    ASSERT_TRUE(enlarged.save(path)) << path.toStdString();
    std::printf("picture: %s\n", qPrintable(path));
}
