// Pictures of the window for a person to look at: artifacts/window.png,
// artifacts/window-with-sound.png with a sound loaded and marked, and
// artifacts/window-zoomed.png zoomed in on the begin mark, and artifacts/window-dark.png
// in a dark colour scheme. At another scale factor (QT_SCALE_FACTOR) the names end in @<factor>x.
#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>
#include <cmath>
#include <map>

#include "WindowTestSupport.h"
#include "components/waveform/SampleReader.h"
#include "support/TestSupport.h"
#include "widgets/MyButton.h"
#include "widgets/TimeFormatSlider.h"

using windowtest::WindowTest;

TEST_F(WindowTest, Screenshot) {
    clipwren::frmMain& w = open();
    w.show();
    const QString dir = testsupport::artifactsDir();
    QDir().mkpath(dir);
    const qreal scale = w.devicePixelRatioF();
    const auto file = [&](const char* name) {
        return dir + "/" + name + (scale == 1 ? QString() : QStringLiteral("@%1x").arg(scale)) + ".png";
    };
    ASSERT_TRUE(w.grab().save(file("window")));

    // Twenty seconds: quiet, then a tone swelling and fading twice.
    constexpr int kRate = 8000;
    auto samples = testsupport::tone(kRate, 1, 20 * kRate, 220, 0.9);
    for (size_t i = 0; i < samples.size(); ++i) {
        const double t = double(i) / kRate;
        samples[i] *= float(t < 3 ? 0.02 : std::pow(std::sin(M_PI * (t - 3) / 8.5), 2));
    }
    const QString sound = settingsDir.filePath("swell.wav");
    testsupport::writeWav(sound, kRate, 1, samples);
    loadAndWaitForPicture(sound);
    control<QLineEdit>("txtBeginMark")->setText("00:05:000");
    control<QLineEdit>("txtEndMark")->setText("00:11:500");
    QCoreApplication::processEvents();
    ASSERT_TRUE(w.grab().save(file("window-with-sound")));

    auto* slider = control<clipwren::TimeFormatSlider>("sldPosition");
    QSignalSpy samplesRead(control<clipwren::waveform::SampleReader>("Samples"), &clipwren::waveform::SampleReader::ready);
    slider->zoomBy(8, 5000);
    // The reader's thread may be done before a wait() would begin counting: look at the count.
    QTRY_VERIFY_WITH_TIMEOUT(samplesRead.count() > 0, 20000);
    QCoreApplication::processEvents();
    ASSERT_TRUE(w.grab().save(file("window-zoomed")));
}

namespace {

// Debian's qt6ct "darker" colour scheme: its active colours in the order of QPalette's
// roles (17 is NoRole), and its disabled texts.
QPalette darkerScheme() {
    const QStringList colours = QStringLiteral(
        "#ffffff #424245 #979797 #5e5c5b #302f2e #4a4947 #ffffff #ffffff #ffffff #3d3d3d #222020 "
        "#e7e4e0 #12608a #f9f9f9 #0986d3 #a70b06 #5c5b5a - #3f3f36 #ffffff #80ffffff").split(' ');
    QPalette palette;
    for (int role = 0; role < colours.size(); ++role)
        if (colours[role] != "-") palette.setColor(QPalette::ColorRole(role), QColor(colours[role]));
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText, QPalette::HighlightedText})
        palette.setColor(QPalette::Disabled, role, QColor("#808080"));
    return palette;
}

// WCAG's contrast ratio of two colours, 1 to 21.
double contrastRatio(const QColor& a, const QColor& b) {
    auto luminance = [](const QColor& c) {
        auto linear = [](double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
        return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
    };
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// Pixels of `area` that stand out from `background` as much as a picture's lines must (3:1).
int standingOut(const QImage& image, const QRect& area, const QColor& background) {
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (contrastRatio(image.pixelColor(x, y), background) >= 3.0) ++count;
    return count;
}

}  // namespace

TEST_F(WindowTest, DarkSchemeKeepsEveryButtonsPictureVisibleAndTheBarAndMetersAsTheyAre) {
    // Of each button's picture, plain and pressed: how many pixels stand out from its
    // background. The border stands out all round.
    auto survey = [](clipwren::frmMain& w) {
        std::map<std::string, int> standing;
        const QList<clipwren::MyButton*> buttons = w.findChildren<clipwren::MyButton*>();
        EXPECT_GE(buttons.size(), 15);
        for (clipwren::MyButton* button : buttons) {
            for (const bool pressed : {false, true}) {
                const std::string name = button->objectName().toStdString() + (pressed ? " pressed" : "");
                // The picture alone: a caption stands out in the palette's text colour anyway.
                const QString caption = button->text();
                button->setText(QString());
                button->setDown(pressed);
                const QColor background = button->backgroundColor();
                const QImage image = button->grab().toImage();
                button->setDown(false);
                button->setText(caption);
                const QRect inside = image.rect().adjusted(1, 1, -1, -1);
                standing[name] = standingOut(image, inside, background);
                EXPECT_EQ(standingOut(image, image.rect(), background) - standing[name],
                          2 * (image.width() + image.height()) - 4)
                    << name << ": border";
            }
        }
        return standing;
    };
    // The progress bar and the level meters have looks of their own, whatever the scheme.
    auto fixedLooks = [this] {
        std::vector<QImage> looks{control("prgStatus")->grab().toImage()};
        for (QWidget* meter : meters()) looks.push_back(meter->grab().toImage());
        return looks;
    };
    open().show();
    const std::map<std::string, int> lightPictures = survey(*window);
    const std::vector<QImage> lightLooks = fixedLooks();

    const QPalette light = QApplication::palette();
    const auto restore = qScopeGuard([&light] { QApplication::setPalette(light); });
    QApplication::setPalette(darkerScheme());
    clipwren::frmMain& w = open();
    w.show();
    const QString dir = testsupport::artifactsDir();
    QDir().mkpath(dir);
    ASSERT_TRUE(w.grab().save(dir + "/window-dark.png"));
    EXPECT_TRUE(fixedLooks() == lightLooks);
    // Each picture stands out of the dark scheme's buttons about as much as of the light
    // scheme's, which the pictures were drawn for.
    for (const auto& [name, dark] : survey(w)) EXPECT_GE(dark, lightPictures.at(name) * 3 / 4) << name;
}

// Every button's frame is whole in the window's picture at the screen's scale factor (the
// test runs again at 1.25, 1.5 and 2): along each edge, a line of the border colour.
TEST_F(WindowTest, ButtonFramesAreWholeAtTheScreensScale) {
    clipwren::frmMain& w = open();
    w.show();
    const QImage image = w.grab().toImage();
    const qreal scale = image.devicePixelRatio();
    for (clipwren::MyButton* button : w.findChildren<clipwren::MyButton*>()) {
        const QRectF logical(button->mapTo(&w, QPoint(0, 0)), button->size());
        const QRect device(int(std::floor(logical.left() * scale)), int(std::floor(logical.top() * scale)),
                           int(std::ceil(logical.width() * scale)), int(std::ceil(logical.height() * scale)));
        // How much of the line `depth` pixels in from an edge has the border's colour.
        const auto share = [&](int edge, int depth) {
            int border = 0, all = 0;
            const bool across = edge < 2;  // top and bottom run across
            const int length = across ? device.width() : device.height();
            for (int i = int(std::ceil(scale)); i < length - int(std::ceil(scale)); ++i, ++all) {
                const QPoint at = edge == 0 ? QPoint(device.left() + i, device.top() + depth)
                                : edge == 1 ? QPoint(device.left() + i, device.bottom() - depth)
                                : edge == 2 ? QPoint(device.left() + depth, device.top() + i)
                                            : QPoint(device.right() - depth, device.top() + i);
                border += image.pixelColor(at) == clipwren::MyButton::kBorderColor;
            }
            return double(border) / std::max(all, 1);
        };
        for (int edge = 0; edge < 4; ++edge) {
            double best = 0;
            for (int depth = 0; depth <= int(std::ceil(scale)); ++depth) best = std::max(best, share(edge, depth));
            EXPECT_GE(best, 0.95) << button->objectName().toStdString() << " edge " << edge << " at " << scale;
        }
    }
}
