#pragma once
// A main window under test: settings in a temporary folder, scripted dialogs and a
// recording document opener, controls found by their names.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDialog>
#include <QLineEdit>
#include <QSettings>
#include <QTemporaryDir>
#include <deque>
#include <memory>

#include "core/OutputLocation.h"
#include "editor/frmMain.h"
#include "platform/Dialogs.h"
#include "platform/DocumentOpener.h"

namespace windowtest {

struct Message {
    QString text;
    QString caption;
    clipwren::platform::MessageIcon icon;
};

class ScriptedDialogs : public clipwren::platform::DialogProvider {
public:
    std::deque<QString> openAnswers;
    std::deque<QString> saveAnswers;
    QString lastTitle, lastFilter, lastInitialFolder;
    std::vector<Message> messages;
    int folderDialogs = 0;

    QString openFileName(QWidget*, const QString& title, const QString& filter) override {
        lastTitle = title;
        lastFilter = filter;
        return next(openAnswers);
    }
    QString saveFileName(QWidget*, const QString& title, const QString& filter, const QString& initial) override {
        lastTitle = title;
        lastFilter = filter;
        lastInitialFolder = initial;
        return next(saveAnswers);
    }
    void message(QWidget*, const QString& text, const QString& caption, clipwren::platform::MessageIcon icon) override {
        messages.push_back({text, caption, icon});
    }
    QString inputBox(QWidget*, const QString&, const QString&) override { return {}; }
    // The folder dialog is always cancelled.
    int exec(QDialog&) override {
        ++folderDialogs;
        return QDialog::Rejected;
    }

private:
    static QString next(std::deque<QString>& answers) {
        if (answers.empty()) return {};
        QString answer = answers.front();
        answers.pop_front();
        return answer;
    }
};

class RecordingOpener : public clipwren::platform::DocumentOpener {
public:
    struct Call {
        QString document, folder;
        clipwren::platform::ShowCommand show;
    };
    std::vector<Call> calls;
    bool open(const QString& document, const QString& folder, clipwren::platform::ShowCommand show) override {
        calls.push_back({document, folder, show});
        return false;
    }
};

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(settingsDir.isValid());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir.path());
        clipwren::platform::setDialogProvider(&dialogs);
        clipwren::platform::setDocumentOpener(&opener);
    }
    void TearDown() override {
        window.reset();
        clipwren::platform::setDialogProvider(nullptr);
        clipwren::platform::setDocumentOpener(nullptr);
    }
    clipwren::frmMain& open() {
        window = std::make_unique<clipwren::frmMain>();
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
    // The file the settings store keeps the program's values in.
    QString settingsFile() const {
        return clipwren::IniSettingsStore(clipwren::OutputLocation::kOrganisation, clipwren::OutputLocation::kApplication)
            .filePath();
    }

    QTemporaryDir settingsDir;
    ScriptedDialogs dialogs;
    RecordingOpener opener;
    std::unique_ptr<clipwren::frmMain> window;
};

}  // namespace windowtest
