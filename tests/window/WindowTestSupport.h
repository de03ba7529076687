#pragma once
// A main window under test: the scripted user and a recording document opener from
// tests/support, settings in a file in a temporary folder, controls found by their names.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QLineEdit>
#include <QTemporaryDir>
#include <memory>

#include "core/OutputLocation.h"
#include "core/SettingsStore.h"
#include "editor/frmMain.h"
#include "support/ScriptedDialogs.h"

namespace windowtest {

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(settingsDir.isValid()); }
    void TearDown() override { window.reset(); }
    clipwren::frmMain& open() {
        window = std::make_unique<clipwren::frmMain>(clipwren::WindowServices{dialogs, opener, settings});
        return *window;
    }
    template <typename T = QWidget>
    T* control(const char* name) {
        T* found = window->findChild<T*>(QLatin1String(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    QString text(const char* name) { return control<QLineEdit>(name)->text(); }
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
    testsupport::ScriptedDialogs dialogs;
    testsupport::RecordingOpener opener;
    std::unique_ptr<clipwren::frmMain> window;
};

}  // namespace windowtest
