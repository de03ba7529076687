#pragma once
// Turns SIGINT, SIGTERM and SIGHUP into a Qt signal delivered by the event loop, so
// that the program ends as its user would end it (a logout, `kill`, Ctrl+C): an
// interrupted cut stops the editor and lets it remove its temporary file instead of
// dying with the file half written.
#include <QObject>
#include <QSocketNotifier>
#include <memory>

namespace clipwren {

class InterruptNotifier : public QObject {
    Q_OBJECT
public:
    // One per process: it owns the process's handlers for these signals.
    explicit InterruptNotifier(QObject* parent = nullptr);
    ~InterruptNotifier() override;

signals:
    void interrupted(int signalNumber);

private:
    void readSignal();
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace clipwren
