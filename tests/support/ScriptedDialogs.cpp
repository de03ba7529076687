#include "ScriptedDialogs.h"

namespace testsupport {

namespace {
QString next(std::deque<QString>& answers) {
    if (answers.empty()) return {};
    QString answer = answers.front();
    answers.pop_front();
    return answer;
}
}  // namespace

QString ScriptedDialogs::openFileName(QWidget*, const QString& title, const QString& filter) {
    lastTitle = title;
    lastFilter = filter;
    return next(openAnswers);
}

QString ScriptedDialogs::saveFileName(QWidget*, const QString& title, const QString& filter, const QString& initial) {
    lastTitle = title;
    lastFilter = filter;
    lastInitialFolder = initial;
    return next(saveAnswers);
}

void ScriptedDialogs::message(QWidget*, const QString& text, const QString& caption,
                              clipwren::platform::MessageIcon icon) {
    messages.push_back({text, caption, icon});
}

QString ScriptedDialogs::inputBox(QWidget*, const QString& prompt, const QString& title) {
    inputs.push_back({prompt, title});
    return next(inputAnswers);
}

int ScriptedDialogs::exec(QDialog& dialog) {
    ++dialogsShown;
    if (dialogSteps.empty()) {
        ++unscriptedDialogs;
        return QDialog::Rejected;
    }
    const auto step = std::move(dialogSteps.front());
    dialogSteps.pop_front();
    return step(dialog);
}

bool RecordingOpener::open(const QString& document, const QString& folder, clipwren::platform::ShowCommand show) {
    calls.push_back({document, folder, show});
    return false;
}

}  // namespace testsupport
