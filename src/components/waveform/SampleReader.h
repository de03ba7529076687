#pragma once
// Reads the samples of one stretch of a sound, for the picture of a slider zoomed in
// beyond what the envelope resolves. The reading happens on a thread of its own with a
// decoder of its own, never on the caller's; of several requests waiting only the newest
// is read. ready() arrives through the event loop when a stretch has been read.
#include <QObject>
#include <QString>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace clipwren::waveform {

class SampleReader : public QObject {
    Q_OBJECT
public:
    // Samples from `firstMs` on, one per frame at `rate`: of each frame the sample
    // furthest from zero over its channels, in -1..1 (the envelope, too, takes every
    // channel in).
    struct Stretch {
        int rate = 0;
        int64_t firstFrame = 0;
        std::vector<float> samples;
        double firstMs() const { return rate > 0 ? firstFrame * 1000.0 / rate : 0; }
        double lastMs() const { return rate > 0 ? (firstFrame + int64_t(samples.size()) - 1) * 1000.0 / rate : 0; }
        // Within a frame either side: the sound's own ends are no further.
        bool covers(double fromMs, double toMs) const {
            const double frameMs = rate > 0 ? 1000.0 / rate : 0;
            return !samples.empty() && firstMs() <= fromMs + frameMs && lastMs() >= toMs - frameMs;
        }
    };

    explicit SampleReader(QObject* parent = nullptr);
    // Waits for a read under way to end.
    ~SampleReader() override;

    // The sound to read from; forgets what was read of the previous one. Empty: none.
    void setFile(const QString& path);
    // Asks for the samples from fromMs to toMs (clamped to the sound).
    void request(double fromMs, double toMs);
    // The stretch read last (of the current file), empty before the first.
    std::shared_ptr<const Stretch> stretch() const;

signals:
    void ready();

private:
    struct Request {
        double fromMs = 0;
        double toMs = 0;
    };
    void run();

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    QString path_;
    // Raised with each new file, so a stretch of the previous one is never kept.
    uint64_t file_ = 0;
    std::optional<Request> pending_;
    // The stretch asked for last: a request within it needs no new read.
    std::optional<Request> asked_;
    std::shared_ptr<const Stretch> stretch_ = std::make_shared<Stretch>();
    bool stopping_ = false;
    std::thread worker_;
};

}  // namespace clipwren::waveform
