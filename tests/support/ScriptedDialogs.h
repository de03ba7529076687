#pragma once
// The user, scripted: the dialog and message seam and the document opener that every
// test hands to the code under test in place of the real ones.
#include <QDialog>
#include <QString>
#include <deque>
#include <functional>
#include <vector>

#include "platform/Dialogs.h"
#include "platform/DocumentOpener.h"

namespace testsupport {

struct ShownMessage {
    QString text;
    QString caption;
    clipwren::platform::MessageIcon icon;
};

struct AskedInput {
    QString prompt;
    QString title;
};

// Each answer queue is taken from the front; an empty queue answers as a cancel would.
class ScriptedDialogs : public clipwren::platform::DialogProvider {
public:
    std::deque<QString> openAnswers;
    std::deque<QString> saveAnswers;
    std::deque<QString> inputAnswers;
    // One step per opening of another modal dialog (the folder dialog): it plays the
    // user and returns the dialog's result code. Without a step the dialog is cancelled.
    std::deque<std::function<int(QDialog&)>> dialogSteps;

    QString lastTitle, lastFilter, lastInitialFolder;
    std::vector<ShownMessage> messages;
    std::vector<AskedInput> inputs;
    int dialogsShown = 0;
    int unscriptedDialogs = 0;

    QString openFileName(QWidget*, const QString& title, const QString& filter) override;
    QString saveFileName(QWidget*, const QString& title, const QString& filter, const QString& initial) override;
    void message(QWidget*, const QString& text, const QString& caption, clipwren::platform::MessageIcon icon) override;
    QString inputBox(QWidget*, const QString& prompt, const QString& title) override;
    int exec(QDialog& dialog) override;
};

class RecordingOpener : public clipwren::platform::DocumentOpener {
public:
    struct Call {
        QString document, folder;
        clipwren::platform::ShowCommand show;
    };
    std::vector<Call> calls;
    // Records the call and reports that nothing opened.
    bool open(const QString& document, const QString& folder, clipwren::platform::ShowCommand show) override;
};

}  // namespace testsupport
