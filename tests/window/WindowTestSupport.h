#pragma once
// A main window under test: the scripted user and a recording document opener from
// tests/support, settings in a file in a temporary folder, controls found by their names.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QLineEdit>
#include <QTest>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <memory>
#include <vector>

#include "components/player/LevelMeterWidget.h"
#include "components/player/SoundPlayer.h"
#include "components/soundeditor/SoundEditor.h"
#include "components/waveform/WaveformLoader.h"
#include "widgets/MyButton.h"

#include "core/OutputLocation.h"
#include "core/SettingsStore.h"
#include "editor/frmMain.h"
#include "support/ScriptedDialogs.h"
#include "support/SoundOutputFake.h"

namespace windowtest {

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(settingsDir.isValid()); }
    void TearDown() override { window.reset(); }
    clipwren::frmMain& open() {
        window = std::make_unique<clipwren::frmMain>(
            clipwren::WindowServices{dialogs, opener, settings, peakCache, sound});
        return *window;
    }
    template <typename T = QWidget>
    T* control(const char* name) {
        T* found = window->findChild<T*>(QLatin1String(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    QString text(const char* name) { return control<QLineEdit>(name)->text(); }
    // The hosted components and the position timer, children of the window by name.
    clipwren::SoundPlayer& player() { return *control<clipwren::SoundPlayer>("Player"); }
    clipwren::SoundEditor& cutter() { return *control<clipwren::SoundEditor>("Cutter"); }
    QTimer& positionTimer() { return *control<QTimer>("tmrPosition"); }
    // The level meters drawn over the window, left first.
    std::vector<clipwren::LevelMeterWidget*> meters() {
        const QList<clipwren::LevelMeterWidget*> found = window->findChildren<clipwren::LevelMeterWidget*>();
        std::vector<clipwren::LevelMeterWidget*> sorted(found.begin(), found.end());
        std::sort(sorted.begin(), sorted.end(), [](auto* a, auto* b) { return a->x() < b->x(); });
        return sorted;
    }
    // Chooses a file in the window's open dialog.
    void load(const QString& path) {
        dialogs.openAnswers = {path};
        control<clipwren::MyButton>("cmdInput")->click();
    }
    // Chooses a file and waits until the slider's picture of it is final.
    void loadAndWaitForPicture(const QString& path) {
        bool final = false;
        QObject context;
        using clipwren::waveform::WaveformLoader;
        QObject::connect(control<WaveformLoader>("Waveform"), &WaveformLoader::changed, &context,
                         [&](bool finished) { final = finished; });
        load(path);
        QTRY_VERIFY_WITH_TIMEOUT(final, 20000);
    }
    // The output folder the window names outputs in, as a loaded input shows it.
    QString outputFolderOfNextLoad() {
        const QString name = QDir::separator() + QStringLiteral("probe-part.mp3");
        load("/nowhere/probe.mp3");
        const QString output = text("txtOutput");
        EXPECT_TRUE(output.endsWith(name)) << output.toStdString();
        return output.chopped(name.size());
    }
    // The user saw exactly one message: this one, with the program's title.
    void expectOnlyMessage(const QString& text, clipwren::platform::MessageIcon icon) {
        ASSERT_EQ(dialogs.messages.size(), 1u);
        EXPECT_EQ(dialogs.messages[0].text, text);
        EXPECT_EQ(dialogs.messages[0].icon, icon);
        EXPECT_EQ(dialogs.messages[0].caption, clipwren::platform::applicationTitle());
    }
    void storeOutputFolder(const QString& folder) { clipwren::OutputLocation::storeFolder(settings, folder); }
    QString storedOutputFolder() const {
        return settings.value(clipwren::OutputLocation::kSection, clipwren::OutputLocation::kKey, "<absent>");
    }

    QTemporaryDir settingsDir;
    clipwren::IniSettingsStore settings{settingsDir.filePath("clipwren.ini")};
    // Pictures of sounds are kept in the temporary folder, never in the user's cache.
    clipwren::waveform::PeakCache peakCache{settingsDir.filePath("peaks")};
    testsupport::ScriptedDialogs dialogs;
    testsupport::RecordingOpener opener;
    // The first seconds the player hands out, at the recording output's 48 kHz.
    testsupport::RecordingOutputs sound{3 * 48000};
    std::unique_ptr<clipwren::frmMain> window;
};

}  // namespace windowtest
