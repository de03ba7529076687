#include "CutBatch.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <unistd.h>

#include "core/InterruptNotifier.h"

namespace clipwren::cut {

namespace {

constexpr int kCutFailed = 1;
constexpr int kBarWidth = 40;

void say(const QString& text) {
    std::fputs(("clipwren-cut: " + text + "\n").toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
}

// One line on a terminal, redrawn as cuts end; nothing otherwise.
class BatchProgress {
public:
    explicit BatchProgress(int total) : total_(total), enabled_(isatty(fileno(stderr)) == 1) {}
    void show(int done) {
        if (!enabled_ || total_ == 0) return;
        const int filled = done * kBarWidth / total_;
        std::fprintf(stderr, "\rCutting    [%s%s] %d/%d", std::string(size_t(filled), '#').c_str(),
                     std::string(size_t(kBarWidth - filled), '-').c_str(), done, total_);
        std::fflush(stderr);
        drawn_ = true;
    }
    // Ends the line before a message, to be drawn anew after it.
    void interrupt() {
        if (!drawn_) return;
        std::fputc('\n', stderr);
        drawn_ = false;
    }

private:
    int total_;
    bool enabled_;
    bool drawn_ = false;
};

QStringList argumentsFor(const CutRequest& cut, const QStringList& options) {
    return QStringList{cut.input, "--begin", QString::number(double(cut.beginMs) / 1000.0, 'f', 3), "--end",
                       QString::number(double(cut.endMs) / 1000.0, 'f', 3), "--output", cut.output} +
           options;
}

}  // namespace

int runBatch(const BatchRequest& request) {
    QFile list;
    const bool opened = request.list == QLatin1String("-") ? list.open(stdin, QIODevice::ReadOnly)
                                                           : (list.setFileName(request.list), list.open(QIODevice::ReadOnly));
    if (!opened) {
        say(QStringLiteral("%1: %2").arg(request.list, list.errorString()));
        return kCutFailed;
    }
    const std::vector<ListedCut> cuts = parseCutList(list.readAll());

    BatchProgress progress(int(cuts.size()));
    int done = 0;
    bool allWritten = true;
    auto finishCut = [&](const ListedCut& cut, bool written, const QString& why) {
        if (!written) {
            allWritten = false;
            progress.interrupt();
            for (const QString& line : why.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
                say(QStringLiteral("line %1: %2").arg(cut.line).arg(line.startsWith("clipwren-cut: ") ? line.mid(14) : line));
        }
        progress.show(++done);
    };

    std::deque<const ListedCut*> waiting;
    for (const ListedCut& cut : cuts) {
        if (cut.error.isEmpty()) waiting.push_back(&cut);
        else finishCut(cut, false, cut.error);
    }

    QEventLoop loop;
    InterruptNotifier interrupts;
    int interruptSignal = 0;
    QObject::connect(&interrupts, &InterruptNotifier::interrupted, &loop, [&](int signalNumber) {
        if (interruptSignal == 0) interruptSignal = signalNumber;
        waiting.clear();  // the running cuts have the signal too, from the terminal or from us
    });
    int running = 0;
    std::vector<std::unique_ptr<QProcess>> processes;
    std::function<void()> startMore = [&] {
        while (running < request.jobs && !waiting.empty()) {
            const ListedCut* cut = waiting.front();
            waiting.pop_front();
            auto process = std::make_unique<QProcess>();
            QProcess* raw = process.get();
            raw->setStandardOutputFile(QProcess::nullDevice());
            auto ended = [&, raw, cut](bool written, const QString& why) {
                --running;
                finishCut(*cut, written, QString::fromLocal8Bit(raw->readAllStandardError()) + why);
                startMore();
                if (running == 0 && waiting.empty()) loop.quit();
            };
            QObject::connect(raw, &QProcess::finished, &loop, [ended](int exitCode, QProcess::ExitStatus status) {
                const bool normal = status == QProcess::NormalExit;
                ended(normal && exitCode == 0, normal ? QString() : QStringLiteral("the cut ended abnormally"));
            });
            QObject::connect(raw, &QProcess::errorOccurred, &loop, [ended, raw](QProcess::ProcessError error) {
                if (error == QProcess::FailedToStart) ended(false, raw->errorString());
            });
            raw->start(QCoreApplication::applicationFilePath(), argumentsFor(cut->request, request.cutOptions));
            ++running;
            processes.push_back(std::move(process));
        }
    };
    startMore();
    if (running > 0) loop.exec();
    progress.interrupt();
    if (interruptSignal != 0) return 128 + interruptSignal;
    return allWritten ? 0 : kCutFailed;
}

}  // namespace clipwren::cut
