// The sound editor's own cost: a 30-second cut to MP3 128 kbit/s through the component
// (load, crop and export timed apart), each case in a child process of its own so its
// peak resident memory is measured alone. Inputs come from the bench cache that
// bench/run-bench.sh fills (BUILD_DIR/bench-cache, or CLIPWREN_BENCH_CACHE).
//
//   bench_soundeditor                          all cases
//   bench_soundeditor --cut IN BEGIN END OUT   one cut (milliseconds), prints its phases
#include "components/soundeditor/OutputFormatForPath.h"
#include "components/soundeditor/SoundEditor.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <cstdio>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

extern char** environ;

namespace {

using clipwren::SoundEditor;

// Runs one operation and waits for its completion; returns the elapsed milliseconds or -1.
template <typename Completion, typename Start>
qint64 timed(SoundEditor& editor, Completion completion, Start start) {
    QElapsedTimer clock;
    clock.start();
    QSignalSpy done(&editor, completion);
    if (start() != 0 || !done.wait(3600 * 1000) || done.first().first().toInt() != 0) return -1;
    return clock.elapsed();
}

int cutOnce(const QString& input, int beginMs, int endMs, const QString& output) {
    SoundEditor editor;
    const qint64 load = timed(editor, &SoundEditor::LoadCompleted, [&] { return editor.OpenFile(input); });
    const qint64 crop = timed(editor, &SoundEditor::CropCompleted, [&] { return editor.CropToRange(beginMs, endMs); });
    clipwren::SetOutputFormatForPath(editor.OutputFormat(), output);
    const qint64 save = timed(editor, &SoundEditor::ExportCompleted,
                              [&] { return editor.ExportFile(44100, 2, 0, 0, -1, output); });
    std::printf("%9lld %9lld %9lld", static_cast<long long>(load), static_cast<long long>(crop),
                static_cast<long long>(save));
    std::fflush(stdout);
    return load < 0 || crop < 0 || save < 0 ? 1 : 0;
}

struct Case {
    const char* name;
    const char* input;
    int beginMs;
    int endMs;
};

int runAll() {
    const QString cache = qEnvironmentVariable(
        "CLIPWREN_BENCH_CACHE", QCoreApplication::applicationDirPath() + QStringLiteral("/../../bench-cache"));
    const Case cases[] = {{"mp3-4min", "piece-cbr-4min.mp3", 120000, 150000},
                          {"mp3-vbr-60min", "vbr-60min.mp3", 2400000, 2430000},
                          {"wav-60min", "pcm-60min.wav", 2400000, 2430000},
                          {"mp3-3h", "cbr-3h.mp3", 9000000, 9030000}};
    QTemporaryDir work;
    const QByteArray self = QCoreApplication::applicationFilePath().toLocal8Bit();
    std::printf("Sound editor, 30 s cut to MP3 128 kbit/s (ms per phase, peak resident memory)\n");
    std::printf("%-14s %9s %9s %9s %9s\n", "case", "load-ms", "crop-ms", "export-ms", "peak-MB");
    for (const Case& c : cases) {
        const QString input = QDir(cache).filePath(c.input);
        if (!QFileInfo::exists(input)) {
            std::printf("%-14s (no %s in %s; run bench/run-bench.sh first)\n", c.name, c.input, qPrintable(cache));
            continue;
        }
        std::printf("%-14s ", c.name);
        std::fflush(stdout);
        const QByteArray in = input.toLocal8Bit(), out = work.filePath("cut.mp3").toLocal8Bit();
        const QByteArray begin = QByteArray::number(c.beginMs), end = QByteArray::number(c.endMs);
        char* argv[] = {const_cast<char*>(self.constData()), const_cast<char*>("--cut"),
                        const_cast<char*>(in.constData()),   const_cast<char*>(begin.constData()),
                        const_cast<char*>(end.constData()),  const_cast<char*>(out.constData()),
                        nullptr};
        pid_t child = 0;
        int status = 0;
        rusage usage{};
        if (posix_spawn(&child, self.constData(), nullptr, nullptr, argv, environ) != 0 ||
            wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            std::printf(" failed\n");
            continue;
        }
        std::printf(" %9.1f\n", double(usage.ru_maxrss) / 1024.0);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 6 && args[1] == QLatin1String("--cut"))
        return cutOnce(args[2], args[3].toInt(), args[4].toInt(), args[5]);
    return runAll();
}
