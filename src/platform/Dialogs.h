#pragma once
// The one place the program asks the user something in a modal window: open and
// save dialogs, message boxes, the input box and any other modal dialog. main()
// makes the real one and hands it to the window; tests hand over their own to
// script the answers.
#include <QString>

class QDialog;
class QWidget;

namespace clipwren::platform {

enum class MessageIcon { None, Information, Warning, Error };

class DialogProvider {
public:
    // Keeps Qt's file dialog from writing a settings file of its own (process-wide: Qt's
    // settings in its default format go nowhere).
    DialogProvider();
    virtual ~DialogProvider() = default;
    // filter is in the program's own form: "Description|pattern|Description|pattern|".
    // Both return the chosen path, or empty text when the user cancels.
    virtual QString openFileName(QWidget* parent, const QString& title, const QString& filter);
    virtual QString saveFileName(QWidget* parent, const QString& title, const QString& filter,
                                 const QString& initialFolder);
    // A modal message with an OK button only.
    virtual void message(QWidget* parent, const QString& text, const QString& caption, MessageIcon icon);
    // A modal input box: prompt (may hold line breaks), title, an empty one-line field,
    // OK and Cancel. OK returns the field's text; Cancel or closing returns empty text.
    virtual QString inputBox(QWidget* parent, const QString& prompt, const QString& title);
    // Runs any other modal dialog (the folder dialog) and returns its result code.
    virtual int exec(QDialog& dialog);

private:
    QString lastOpenFileName_;  // the open dialog keeps what it held from its previous use
};

// "A|a|B|b|" -> "A (a);;B (b)" with ';'-separated patterns turned into blanks, as Qt wants.
QString toQtFilter(const QString& filter);

// The program's title, the caption of its message boxes.
QString applicationTitle();

}  // namespace clipwren::platform
