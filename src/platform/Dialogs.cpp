#include "platform/Dialogs.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QSettings>
#include <QVBoxLayout>

namespace clipwren::platform {

QString toQtFilter(const QString& filter) {
    const QStringList parts = filter.split('|');
    QStringList entries;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        if (parts[i].isEmpty() && parts[i + 1].isEmpty()) continue;
        QString patterns = parts[i + 1];
        patterns.replace(';', ' ');
        // A description may end in a blank of its own; one blank before the patterns is enough.
        entries << QStringLiteral("%1 (%2)").arg(parts[i].trimmed(), patterns);
    }
    return entries.join(QStringLiteral(";;"));
}

QString applicationTitle() {
    const QString title = QApplication::applicationDisplayName();
    return title.isEmpty() ? QApplication::applicationName() : title;
}

DialogProvider::DialogProvider() {
    // Qt's file dialog keeps its last folder and view in a settings file of Qt's own, in
    // the format and place of QSettings' defaults; the program keeps no settings but its
    // own, so that place is one where no file can be made.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("/dev/null"));
}

QString DialogProvider::openFileName(QWidget* parent, const QString& title, const QString& filter) {
    const QString chosen = QFileDialog::getOpenFileName(parent, title, lastOpenFileName_, toQtFilter(filter));
    if (!chosen.isEmpty()) lastOpenFileName_ = chosen;
    return chosen;
}

QString DialogProvider::saveFileName(QWidget* parent, const QString& title, const QString& filter,
                                     const QString& initialFolder) {
    // No extension is forced and no overwrite question is asked: the program adds neither.
    return QFileDialog::getSaveFileName(parent, title, initialFolder, toQtFilter(filter), nullptr,
                                        QFileDialog::DontConfirmOverwrite);
}

void DialogProvider::message(QWidget* parent, const QString& text, const QString& caption, MessageIcon icon) {
    QMessageBox box(parent);
    box.setWindowTitle(caption);
    box.setText(text);
    box.setIcon(icon == MessageIcon::Information ? QMessageBox::Information
                : icon == MessageIcon::Warning   ? QMessageBox::Warning
                : icon == MessageIcon::Error     ? QMessageBox::Critical
                                                 : QMessageBox::NoIcon);
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
}

QString DialogProvider::inputBox(QWidget* parent, const QString& prompt, const QString& title) {
    QDialog dialog(parent);
    dialog.setWindowTitle(title);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel(prompt, &dialog));
    auto* field = new QLineEdit(&dialog);
    layout->addWidget(field);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    layout->addWidget(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    return dialog.exec() == QDialog::Accepted ? field->text() : QString();
}

int DialogProvider::exec(QDialog& dialog) { return dialog.exec(); }

}  // namespace clipwren::platform
