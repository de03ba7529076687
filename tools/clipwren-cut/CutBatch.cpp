#include "CutBatch.h"

#include <QEventLoop>
#include <QFile>
#include <cstdio>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "CueSheet.h"
#include "components/soundeditor/CutPipeline.h"
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

std::vector<ListedCut> cutsOf(const BatchRequest& request, QString* error) {
    if (!request.cueSheet.isEmpty()) return cutsOfCueSheet(request, error);
    QFile list;
    const bool opened = request.list == QLatin1String("-") ? list.open(stdin, QIODevice::ReadOnly)
                                                           : (list.setFileName(request.list), list.open(QIODevice::ReadOnly));
    if (!opened) {
        *error = QStringLiteral("%1: %2").arg(request.list, list.errorString());
        return {};
    }
    std::vector<ListedCut> cuts = parseCutList(list.readAll());
    // Every option of the command line goes to every cut; the list gives what to cut.
    for (ListedCut& cut : cuts) {
        CutRequest listed = request.options;
        listed.input = cut.request.input;
        listed.range = cut.request.range;
        listed.output = cut.request.output;
        cut.request = std::move(listed);
    }
    return cuts;
}

// One cut on a batch thread: copied without the codecs where it can be (by the thread's
// own pipeline, which keeps an MP3's frame index from one cut of the file to the next),
// else by the module.
CutOutcome makeListedCut(const CutRequest& request, soundeditor::CutPipeline& withoutCodecs,
                         const CutEngineLoader& loadEngine, const std::atomic<int>& interruptSignal) {
    if (std::optional<CutOutcome> copied = makeCut(request, withoutCodecs, interruptSignal, nullptr)) return *copied;
    QString error;
    const MakeCutFunction engine = loadEngine(&error);
    if (!engine) return {kCutFailed, {}, {error}};
    CutOutcome outcome;
    engine(request, &interruptSignal, nullptr, &outcome);
    return outcome;
}

}  // namespace

int runBatch(const BatchRequest& request, const CutEngineLoader& loadEngine) {
    QString error;
    const std::vector<ListedCut> cuts = cutsOf(request, &error);
    if (!error.isEmpty()) {
        say(error);
        return kCutFailed;
    }

    BatchProgress progress(int(cuts.size()));
    int done = 0;
    bool allWritten = true;
    // On the main thread, in the order the cuts end.
    auto finishCut = [&](const ListedCut& cut, const CutOutcome& outcome) {
        if (outcome.status != 0) allWritten = false;
        if (!outcome.libraryLines.isEmpty() || !outcome.messages.isEmpty()) progress.interrupt();
        for (const QString& line : outcome.libraryLines + outcome.messages)
            say(QStringLiteral("%1: %2").arg(cut.name, line));
        progress.show(++done);
    };

    std::vector<const ListedCut*> waiting;
    for (const ListedCut& cut : cuts) {
        if (cut.error.isEmpty()) waiting.push_back(&cut);
        else finishCut(cut, {kCutFailed, {}, {cut.error}});
    }

    QEventLoop loop;
    InterruptNotifier interrupts;
    std::atomic<int> interruptSignal{0};
    // Running cuts see the signal and stop, removing what they had written; no more start.
    QObject::connect(&interrupts, &InterruptNotifier::interrupted, &loop, [&](int signalNumber) {
        int none = 0;
        interruptSignal.compare_exchange_strong(none, signalNumber);
    });
    std::atomic<size_t> next{0};
    const int threads = int(std::min<size_t>(size_t(request.jobs), waiting.size()));
    int running = threads;
    std::vector<std::jthread> workers;
    for (int i = 0; i < threads; ++i) {
        workers.emplace_back([&] {
            soundeditor::CutPipeline withoutCodecs(nullptr);
            for (size_t taken; interruptSignal.load() == 0 && (taken = next++) < waiting.size();) {
                const ListedCut* cut = waiting[taken];
                CutOutcome outcome = makeListedCut(cut->request, withoutCodecs, loadEngine, interruptSignal);
                QMetaObject::invokeMethod(&loop, [&finishCut, cut, outcome = std::move(outcome)] {
                    finishCut(*cut, outcome);
                }, Qt::QueuedConnection);
            }
            QMetaObject::invokeMethod(&loop, [&] {
                if (--running == 0) loop.quit();
            }, Qt::QueuedConnection);
        });
    }
    if (threads > 0) loop.exec();
    workers.clear();
    progress.interrupt();
    if (const int signalNumber = interruptSignal.load(); signalNumber != 0) return 128 + signalNumber;
    return allWritten ? 0 : kCutFailed;
}

}  // namespace clipwren::cut
