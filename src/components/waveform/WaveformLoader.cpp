#include "components/waveform/WaveformLoader.h"

#include <QThread>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>

#include "components/decode/AudioDecoder.h"
#include "components/decode/SpotReader.h"

namespace clipwren::waveform {

namespace {

using Clock = std::chrono::steady_clock;

// Repaints of a growing picture: about 30 a second are smooth enough.
constexpr auto kNotifyInterval = std::chrono::milliseconds(33);
// Shorter sounds get no coarse picture: the exact decode of two minutes of MP3 takes
// about 0.1 s here, no longer than the coarse pass.
constexpr int64_t kCoarseMinSeconds = 120;
// A spread of spots a little finer than the slider's 440 or so columns, in bit-reversed
// order so that the picture fills in evenly. 512 spots of a 60-minute MP3 take about
// 0.15 s, mostly in seeking.
constexpr int kSpotBits = 9;
constexpr int kSpots = 1 << kSpotBits;
// Frames decoded at each spot: about four MP3 frames.
constexpr int64_t kSpotFrames = 4096;
// A minute of MP3 decodes in about 50 ms of CPU; below that a second decoder's open
// and seek would eat most of what a second part saves.
constexpr int64_t kParallelMinSeconds = 60;
// Frames read at a time by the exact pass, between checks for cancellation.
constexpr int64_t kChunkFrames = 64 * kFramesPerPeak;

int bitReversed(int value, int bits) {
    int result = 0;
    for (int b = 0; b < bits; ++b) result |= ((value >> b) & 1) << (bits - 1 - b);
    return result;
}

// The lowest and highest of interleaved samples, all channels together. Eight running
// extremes side by side, which the compiler keeps in vector registers: a single pair
// cost a tenth of the whole decode.
Peak peakOfSamples(const float* s, size_t count) {
    constexpr size_t kLanes = 8;
    float low[kLanes];
    float high[kLanes];
    for (size_t l = 0; l < kLanes; ++l) low[l] = high[l] = s[0];
    const size_t whole = count / kLanes * kLanes;
    for (size_t i = 0; i < whole; i += kLanes)
        for (size_t l = 0; l < kLanes; ++l) {
            low[l] = s[i + l] < low[l] ? s[i + l] : low[l];
            high[l] = s[i + l] > high[l] ? s[i + l] : high[l];
        }
    for (size_t i = whole; i < count; ++i) {
        low[0] = std::min(low[0], s[i]);
        high[0] = std::max(high[0], s[i]);
    }
    return PeakEnvelope::peakOf(*std::min_element(low, low + kLanes), *std::max_element(high, high + kLanes));
}

}  // namespace

struct WaveformLoader::Job {
    Job(QString p, uint64_t g) : path(std::move(p)), generation(g) {}
    const QString path;
    const uint64_t generation;
    std::atomic<bool> cancelled{false};
    std::atomic<bool> finished{false};
    std::atomic<Clock::rep> lastNotify{0};
    // A part of the exact pass could not start (its decoder did not open or seek): it
    // keeps the coarse picture, which is not worth keeping in the cache.
    std::atomic<bool> partMissing{false};

    mutable std::mutex mutex;
    PeakEnvelope envelope;  // guarded by mutex

    // Writes peaks from index `first` on.
    void put(size_t first, const std::vector<Peak>& peaks) {
        std::lock_guard lock(mutex);
        const size_t end = std::min(envelope.peaks.size(), first + peaks.size());
        if (first < end) std::copy_n(peaks.begin(), end - first, envelope.peaks.begin() + ptrdiff_t(first));
    }
};

WaveformLoader::WaveformLoader(PeakCache cache, QObject* parent) : QObject(parent), cache_(std::move(cache)) {}

WaveformLoader::~WaveformLoader() {
    retire();
    for (auto& [job, thread] : retired_) thread.join();
}

int WaveformLoader::decodeThreads() {
    // One part per core, two at most: the program is tuned on two cores, where an
    // hour of MP3 takes about 3.7 s to decode on one.
    return std::clamp(QThread::idealThreadCount(), 1, 2);
}

void WaveformLoader::load(const QString& path) {
    retire();
    current_ = std::make_shared<Job>(path, ++generation_);
    worker_ = std::thread([this, job = current_] {
        run(job);
        job->finished = true;
    });
}

void WaveformLoader::clear() { retire(); }

void WaveformLoader::retire() {
    if (current_) {
        current_->cancelled = true;
        retired_.emplace_back(std::move(current_), std::move(worker_));
        current_.reset();
    }
    // Threads that have ended are joined now; the others when they do, or at the end.
    std::erase_if(retired_, [](auto& entry) {
        if (!entry.first->finished) return false;
        entry.second.join();
        return true;
    });
}

ColumnPeaks WaveformLoader::columns(int count, double fromMs, double toMs) const {
    if (!current_) return PeakEnvelope().columns(count, fromMs, toMs);
    std::lock_guard lock(current_->mutex);
    return current_->envelope.columns(count, fromMs, toMs);
}

double WaveformLoader::msPerPeak() const {
    if (!current_) return 0;
    std::lock_guard lock(current_->mutex);
    return current_->envelope.msPerPeak();
}

// ---- On the worker thread ----------------------------------------------------------

void WaveformLoader::notify(Job& job, Notice notice) {
    const Clock::rep now = Clock::now().time_since_epoch().count();
    Clock::rep last = job.lastNotify.load();
    if (notice != Notice::Throttled) {
        job.lastNotify = now;
    } else {
        if (Clock::duration(now - last) < kNotifyInterval) return;
        // Two decoding threads may both be due; one of them tells.
        if (!job.lastNotify.compare_exchange_strong(last, now)) return;
    }
    if (job.cancelled) return;
    // Runs on the loader's thread, where current_ lives; a job replaced meanwhile stays quiet.
    QMetaObject::invokeMethod(
        this,
        [this, generation = job.generation, finished = notice == Notice::Finished] {
            if (current_ && current_->generation == generation) emit changed(finished);
        },
        Qt::QueuedConnection);
}

void WaveformLoader::run(const std::shared_ptr<Job>& job) {
    if (auto cached = cache_.find(job->path)) {
        std::lock_guard lock(job->mutex);
        job->envelope = std::move(*cached);
    } else {
        coarsePass(*job);
        if (job->cancelled) return;
        const bool decoded = exactPass(*job);
        if (job->cancelled) return;
        PeakEnvelope finished;
        {
            std::lock_guard lock(job->mutex);
            if (!decoded) job->envelope = PeakEnvelope();
            finished = job->envelope;
        }
        // The file is drawn already; writing the entry only makes the next opening quick.
        if (decoded && !job->partMissing) cache_.store(job->path, finished);
    }
    notify(*job, Notice::Finished);
}

bool WaveformLoader::coarsePass(Job& job) {
    const auto opened = decode::SpotReader::open(job.path);
    if (!opened) return false;
    decode::SpotReader* reader = opened->get();
    const int64_t frames = reader->durationFrames();
    if (frames < kCoarseMinSeconds * reader->sampleRate()) return false;
    {
        std::lock_guard lock(job.mutex);
        job.envelope = PeakEnvelope(reader->sampleRate(), frames);
    }
    for (int i = 0; i < kSpots && !job.cancelled; ++i) {
        const int spot = bitReversed(i, kSpotBits);
        const int64_t begin = frames * spot / kSpots;
        const int64_t end = frames * (spot + 1) / kSpots;
        float low = 0.0f;
        float high = 0.0f;
        if (!reader->peaksNear(begin, kSpotFrames, &low, &high)) continue;
        // The spot stands for its whole share of the sound until the exact pass gets there.
        const size_t first = size_t(begin / kFramesPerPeak);
        const size_t last = size_t((end + kFramesPerPeak - 1) / kFramesPerPeak);
        job.put(first, std::vector<Peak>(last - first, PeakEnvelope::peakOf(low, high)));
        notify(job, Notice::Throttled);
    }
    notify(job, Notice::Now);
    return true;
}

bool WaveformLoader::exactPass(Job& job) {
    auto opened = decode::AudioDecoder::open(job.path, 0, 0);
    if (!opened) return false;
    decode::AudioDecoder* decoder = opened->get();
    const int64_t frames = decoder->lengthFrames();
    const int rate = decoder->outputRate();
    {
        std::lock_guard lock(job.mutex);
        if (job.envelope.sampleRate == rate)
            job.envelope.resize(frames);
        else
            job.envelope = PeakEnvelope(rate, frames);
    }

    // Each part starts on a whole peak; the first uses the decoder opened above.
    const int64_t totalPeaks = (frames + kFramesPerPeak - 1) / kFramesPerPeak;
    const int parts = frames >= kParallelMinSeconds * rate ? decodeThreads() : 1;
    const auto partStart = [&](int part) { return totalPeaks * part / parts * kFramesPerPeak; };
    const auto decodePart = [&](decode::AudioDecoder& d, int part) {
        const int64_t begin = partStart(part);
        const int64_t end = part + 1 == parts ? frames : partStart(part + 1);
        if (d.seek(begin) != 0) {
            job.partMissing = true;
            return;
        }
        const int channels = d.outputChannels();
        std::vector<float> samples(size_t(kChunkFrames * channels));
        std::vector<Peak> peaks;
        for (int64_t pos = begin; pos < end && !job.cancelled;) {
            const int64_t got = d.read(samples.data(), std::min(kChunkFrames, end - pos));
            if (got <= 0) break;  // damage ends the sound here
            peaks.clear();
            for (int64_t f = 0; f < got; f += kFramesPerPeak)
                peaks.push_back(peakOfSamples(samples.data() + f * channels,
                                              size_t((std::min(got, f + kFramesPerPeak) - f) * channels)));
            job.put(size_t(pos / kFramesPerPeak), peaks);
            pos += got;
            notify(job, Notice::Throttled);
        }
    };

    std::vector<std::thread> helpers;
    for (int part = 1; part < parts; ++part)
        helpers.emplace_back([&, part] {
            if (auto own = decode::AudioDecoder::open(job.path, 0, 0))
                decodePart(**own, part);
            else
                job.partMissing = true;
        });
    decodePart(*decoder, 0);
    for (std::thread& helper : helpers) helper.join();
    return true;
}

}  // namespace clipwren::waveform
