#pragma once
// Computes a sound's envelope in the background, with a decoder of its own, for the
// picture in the position slider. A file found in the peak cache is shown whole at
// once. Otherwise a long file first gets a coarse picture from short stretches read at
// spread spots, and then the exact envelope, decoded in parallel parts that refine the
// picture as they go; the finished envelope goes into the cache. Loading another file
// or destroying the loader cancels the work under way. changed() arrives through the
// event loop, at most about 30 times a second while the picture grows, and once more,
// with finished set, when the picture is final: the whole sound, or none (msPerPeak() 0)
// where the file could not be decoded.
#include <QObject>
#include <QString>
#include <memory>
#include <thread>
#include <vector>

#include "components/waveform/PeakCache.h"
#include "components/waveform/PeakEnvelope.h"

namespace clipwren::waveform {

class WaveformLoader : public QObject {
    Q_OBJECT
public:
    explicit WaveformLoader(PeakCache cache, QObject* parent = nullptr);
    // Cancels the work and waits for its threads to end.
    ~WaveformLoader() override;

    // Starts the picture of the file at path, cancelling the one under way.
    void load(const QString& path);
    // Cancels the work under way and forgets the picture.
    void clear();

    // The current picture as `count` slider columns over fromMs..toMs (PeakEnvelope::columns).
    ColumnPeaks columns(int count, double fromMs, double toMs) const;
    // The time one peak of the envelope covers; 0 before the sound's rate is known.
    double msPerPeak() const;

    // The parts the exact decode is split into, one thread each.
    static int decodeThreads();

signals:
    void changed(bool finished);

private:
    struct Job;
    // On the job's worker thread:
    void run(const std::shared_ptr<Job>& job);
    bool coarsePass(Job& job);
    bool exactPass(Job& job);
    enum class Notice {
        Throttled,  // part of a growing picture: at the repaint rate
        Now,        // a step worth showing at once (the coarse picture done)
        Finished,   // the final picture
    };
    void notify(Job& job, Notice notice);
    void retire();

    PeakCache cache_;
    std::shared_ptr<Job> current_;
    std::thread worker_;
    // Cancelled jobs whose threads may still be finishing; joined as they end.
    std::vector<std::pair<std::shared_ptr<Job>, std::thread>> retired_;
    uint64_t generation_ = 0;
};

}  // namespace clipwren::waveform
