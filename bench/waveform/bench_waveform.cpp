// Waveform benchmark: how soon the position slider's picture of a 4-minute and a
// 60-minute MP3 appears (first strokes, the coarse picture across the whole width,
// the exact envelope), how quickly a file opened again comes from the peak cache, and
// how long the slider takes to paint with the picture; then, zoomed in: the paint at each
// zoom level, the time from a wheel notch to the new picture (from the envelope, and
// from samples read in the background), and the actions a user needs to put a mark on a
// click at 63.250 s. The inputs are the MP3s that
// bench/run-bench.sh makes in CLIPWREN_BENCH_CACHE; the peak cache is a temporary folder.
#include "components/decode/AudioDecoder.h"
#include "components/waveform/SampleReader.h"
#include "components/waveform/WaveformLoader.h"
#include "widgets/TimeFormatSlider.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QWheelEvent>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using clipwren::TimeFormatSlider;
using clipwren::waveform::PeakCache;
using clipwren::waveform::WaveformLoader;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// CPU time of the whole process: on a busy machine the wall times above grow with the
// load, CPU time much less; on an idle one a single thread's wall time is about its CPU time.
double cpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// The slider's columns over the sound's length, as the window asks for them.
bool everyColumnKnown(const WaveformLoader& loader, int columns, int64_t lengthMs) {
    const auto peaks = loader.columns(columns, 0, lengthMs);
    return std::none_of(peaks.low.begin(), peaks.low.end(), [](float v) { return std::isnan(v); });
}

struct Timing {
    double first = -1;     // first strokes drawn
    double coarse = -1;    // every column has something
    double complete = -1;  // the exact envelope
    double coarseCpu = -1;
    double completeCpu = -1;
};

// Loads the file and follows changed() until the picture is complete.
Timing follow(WaveformLoader& loader, const QString& path, int columns, int64_t lengthMs) {
    Timing timing;
    QEventLoop loop;
    const auto start = Clock::now();
    const double startCpu = cpuMs();
    const auto connection = QObject::connect(&loader, &WaveformLoader::changed, &loop, [&](bool finished) {
        const double now = msSince(start);
        if (timing.first < 0) timing.first = now;
        if (timing.coarse < 0 && everyColumnKnown(loader, columns, lengthMs)) {
            timing.coarse = now;
            timing.coarseCpu = cpuMs() - startCpu;
        }
        if (finished) {
            timing.complete = now;
            timing.completeCpu = cpuMs() - startCpu;
            loop.quit();
        }
    });
    loader.load(path);
    loop.exec();
    QObject::disconnect(connection);
    return timing;
}

void bench(const char* label, const QString& path) {
    const auto decoder = clipwren::decode::AudioDecoder::open(path, 0, 0);
    if (!decoder) return;
    const int64_t ms = (*decoder)->lengthMs();
    TimeFormatSlider slider(Qt::Horizontal);
    slider.setGeometry(0, 0, 454, 24);
    const int columns = slider.waveformColumns();

    std::vector<double> first, coarse, complete, reopen, coarseCpu, completeCpu;
    for (int run = 0; run < 3; ++run) {
        QTemporaryDir cacheDir;
        WaveformLoader loader{PeakCache(cacheDir.path())};
        const Timing t = follow(loader, path, columns, ms);
        first.push_back(t.first);
        coarse.push_back(t.coarse);
        complete.push_back(t.complete);
        coarseCpu.push_back(t.coarseCpu);
        completeCpu.push_back(t.completeCpu);
        for (int again = 0; again < 3; ++again) {
            WaveformLoader reopened{PeakCache(cacheDir.path())};
            reopen.push_back(follow(reopened, path, columns, ms).complete);
        }
    }
    std::printf("%-14s first strokes %7.1f ms, coarse picture %7.1f ms, exact %7.1f ms, from cache %6.1f ms\n",
                label, median(first), median(coarse), median(complete), median(reopen));
    std::printf("%-14s CPU time until the coarse picture %7.1f ms, until the exact one %7.1f ms\n", label,
                median(coarseCpu), median(completeCpu));

    QTemporaryDir cacheDir;
    WaveformLoader loader{PeakCache(cacheDir.path())};
    follow(loader, path, columns, ms);
    std::vector<double> reduce;
    clipwren::waveform::ColumnPeaks peaks;
    for (int i = 0; i < 50; ++i) {
        const auto start = Clock::now();
        peaks = loader.columns(columns, 0, ms);
        reduce.push_back(msSince(start));
    }
    slider.setRange(0, int(ms));
    slider.setValue(int(ms / 3));
    slider.setWaveform(peaks.low, peaks.high);
    slider.setMarks(int(ms / 4), int(ms / 2));
    QImage image(slider.size(), QImage::Format_ARGB32_Premultiplied);
    std::vector<double> paint;
    for (int i = 0; i < 200; ++i) {
        const auto start = Clock::now();
        slider.render(&image);
        paint.push_back(msSince(start));
    }
    std::printf("%-14s columns from the envelope %5.2f ms, slider paint %5.2f ms (medians; %d columns)\n", label,
                median(reduce), median(paint), columns);
}

// The picture of the slider's view as the window makes it: the envelope's columns where
// they resolve the view, else the samples, read in the background (waited for here).
void showView(TimeFormatSlider& slider, const WaveformLoader& loader, clipwren::waveform::SampleReader& reader) {
    const TimeFormatSlider::View view = slider.view();
    const int columns = slider.waveformColumns();
    if ((view.to - view.from) / (columns - 1) < loader.msPerPeak()) {
        QEventLoop loop;
        const auto done = QObject::connect(&reader, &clipwren::waveform::SampleReader::ready, &loop, &QEventLoop::quit);
        const double margin = (view.to - view.from) / 2;
        reader.request(view.from - margin, view.to + margin);
        if (!reader.stretch()->covers(view.from, view.to)) loop.exec();
        QObject::disconnect(done);
        const auto read = reader.stretch();
        slider.setViewPicture({read->firstMs(), read->lastMs(), {}, {}, read->samples});
        return;
    }
    auto peaks = loader.columns(columns, view.from, view.to);
    slider.setViewPicture({view.from, view.to, std::move(peaks.low), std::move(peaks.high), {}});
}

void benchZoom(const char* label, const QString& path) {
    const int64_t ms = (*clipwren::decode::AudioDecoder::open(path, 0, 0))->lengthMs();
    QTemporaryDir cacheDir;
    WaveformLoader loader{PeakCache(cacheDir.path())};
    // The window's slider: 6810 twips wide.
    TimeFormatSlider slider(Qt::Horizontal);
    slider.setGeometry(0, 0, 454, 24);
    follow(loader, path, slider.waveformColumns(), ms);
    clipwren::waveform::SampleReader reader;
    reader.setFile(path);
    slider.setRange(0, int(ms));
    const auto whole = loader.columns(slider.waveformColumns(), 0, ms);
    slider.setWaveform(whole.low, whole.high);
    slider.setValue(63250);
    slider.setMarks(63250, 93250);
    QImage image(slider.size(), QImage::Format_ARGB32_Premultiplied);
    const double wholePerPixel = double(ms) / (slider.xOf(int(ms)) - slider.xOf(0));

    // Paint time at each zoom level, around the click.
    std::printf("%-14s slider paint:", label);
    for (const double factor : {1.0, 16.0, 256.0, 1e9}) {
        slider.showWhole();
        slider.zoomBy(factor, 63250);
        showView(slider, loader, reader);
        std::vector<double> paint;
        for (int i = 0; i < 200; ++i) {
            const auto start = Clock::now();
            slider.render(&image);
            paint.push_back(msSince(start));
        }
        const TimeFormatSlider::View view = slider.view();
        std::printf("  %.3g ms/px %.2f ms", (view.to - view.from) / (slider.xOf(int(view.to)) - slider.xOf(int(view.from))),
                    median(paint));
    }
    std::printf("\n");

    // A wheel notch at the click, from the whole sound down to the deepest zoom: from the
    // event to the new picture painted. Each step goes to a view not read before.
    std::vector<double> fromEnvelope, fromSamples;
    slider.showWhole();
    reader.setFile(path);
    for (int notch = 0; notch < 40 && slider.view().to - slider.view().from > 460; ++notch) {
        const QPointF at(slider.xOf(63250), 12);
        QWheelEvent wheel(at, at, {}, QPoint(0, 120), Qt::NoButton, {}, Qt::NoScrollPhase, false);
        const auto start = Clock::now();
        QApplication::sendEvent(&slider, &wheel);
        const TimeFormatSlider::View view = slider.view();
        const bool fine = (view.to - view.from) / (slider.waveformColumns() - 1) < loader.msPerPeak();
        showView(slider, loader, reader);
        slider.render(&image);
        (fine ? fromSamples : fromEnvelope).push_back(msSince(start));
    }
    std::printf("%-14s wheel notch to new picture: from the envelope %.2f ms (median of %zu, worst %.2f), "
                "with samples read %.2f ms (median of %zu, worst %.2f)\n",
                label, median(fromEnvelope), fromEnvelope.size(),
                fromEnvelope.empty() ? 0 : *std::max_element(fromEnvelope.begin(), fromEnvelope.end()),
                median(fromSamples), fromSamples.size(),
                fromSamples.empty() ? 0 : *std::max_element(fromSamples.begin(), fromSamples.end()));
    // From the whole sound to a millisecond a pixel, with the pointer on the click.
    const int notches = int(std::ceil(std::log2(wholePerPixel)));
    std::printf("%-14s to mark the click at 63.250 s: point at it, %d wheel notches (%.0f ms/px to 1 ms/px), "
                "drag the begin flag onto it (or click it and press I)\n",
                label, notches, wholePerPixel);
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QDir cache(qEnvironmentVariable("CLIPWREN_BENCH_CACHE"));
    const QString short4 = cache.filePath("piece-cbr-4min.mp3");
    const QString long60 = cache.filePath("vbr-60min.mp3");
    if (qEnvironmentVariableIsEmpty("CLIPWREN_BENCH_CACHE") || !QFile::exists(short4) || !QFile::exists(long60)) {
        std::fprintf(stderr, "bench_waveform: run through bench/run-bench.sh, which makes its inputs\n");
        return 1;
    }
    std::printf("Waveform benchmark (%d decoding threads; medians of 3 loads, 9 cache reopens)\n",
                WaveformLoader::decodeThreads());
    bench("MP3 4 min", short4);
    bench("MP3 VBR 60 min", long60);
    benchZoom("MP3 4 min", short4);
    benchZoom("MP3 VBR 60 min", long60);
    return 0;
}
