// Pictures of the window for a person to look at: artifacts/window.png, and
// artifacts/window-with-sound.png with a sound loaded and marked.
#include <QDir>
#include <QLineEdit>
#include <QTest>
#include <cmath>

#include "WindowTestSupport.h"
#include "components/waveform/WaveformLoader.h"
#include "support/TestSupport.h"

using windowtest::WindowTest;

TEST_F(WindowTest, Screenshot) {
    clipwren::frmMain& w = open();
    w.show();
    const QString dir = testsupport::artifactsDir();
    QDir().mkpath(dir);
    ASSERT_TRUE(w.grab().save(dir + "/window.png"));

    // Twenty seconds: quiet, then a tone swelling and fading twice.
    constexpr int kRate = 8000;
    auto samples = testsupport::tone(kRate, 1, 20 * kRate, 220, 0.9);
    for (size_t i = 0; i < samples.size(); ++i) {
        const double t = double(i) / kRate;
        samples[i] *= float(t < 3 ? 0.02 : std::pow(std::sin(M_PI * (t - 3) / 8.5), 2));
    }
    const QString sound = settingsDir.filePath("swell.wav");
    testsupport::writeWav(sound, kRate, 1, samples);
    load(sound);
    control<QLineEdit>("txtBeginMark")->setText("00:05:000");
    control<QLineEdit>("txtEndMark")->setText("00:11:500");
    auto* picture = control<clipwren::waveform::WaveformLoader>("Waveform");
    QTRY_VERIFY_WITH_TIMEOUT(picture->stage() == clipwren::waveform::WaveformLoader::Stage::Complete, 20000);
    QCoreApplication::processEvents();
    ASSERT_TRUE(w.grab().save(dir + "/window-with-sound.png"));
}
