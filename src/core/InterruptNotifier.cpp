#include "core/InterruptNotifier.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <csignal>

namespace clipwren {

namespace {
constexpr std::array kSignals = {SIGINT, SIGTERM, SIGHUP};
// The self-pipe: the handler may only write, the event loop reads.
int pipeFds[2] = {-1, -1};

void onSignal(int signalNumber) {
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const ssize_t written = write(pipeFds[1], &byte, 1);
}
}  // namespace

InterruptNotifier::InterruptNotifier(QObject* parent) : QObject(parent) {
    if (pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) return;
    notifier_ = std::make_unique<QSocketNotifier>(pipeFds[0], QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &InterruptNotifier::readSignal);
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signalNumber : kSignals) sigaction(signalNumber, &action, nullptr);
}

InterruptNotifier::~InterruptNotifier() {
    if (!notifier_) return;
    for (const int signalNumber : kSignals) std::signal(signalNumber, SIG_DFL);
    notifier_.reset();
    close(pipeFds[0]);
    close(pipeFds[1]);
    pipeFds[0] = pipeFds[1] = -1;
}

void InterruptNotifier::readSignal() {
    unsigned char byte = 0;
    while (read(pipeFds[0], &byte, 1) == 1) emit interrupted(byte);
}

}  // namespace clipwren
