#pragma once
// Finished envelopes kept on disk, so that a file opened again shows its whole picture
// at once. An entry belongs to a file's path, size and modification time: a file that
// changed finds no entry. Entries that are damaged, of another format or another file
// are passed over (and replaced by the next store); a folder that cannot be written
// only means nothing is kept. The folder is held under a size limit by dropping the
// entries used longest ago. Safe to use from several threads and processes: entries
// are written whole under a temporary name and then renamed.
#include <QString>
#include <optional>

#include "components/waveform/PeakEnvelope.h"

namespace clipwren::waveform {

class PeakCache {
public:
    // 200 MB hold about 80 hours of sound at 44.1 kHz.
    static constexpr qint64 kDefaultLimitBytes = 200LL * 1024 * 1024;

    // An empty folder keeps nothing.
    explicit PeakCache(QString folder = {}, qint64 limitBytes = kDefaultLimitBytes);
    // The user's cache folder for this program (QStandardPaths::CacheLocation), "waveforms" in it.
    static QString defaultFolder();

    const QString& folder() const { return folder_; }
    // The envelope stored for the file as it is now, or nothing.
    std::optional<PeakEnvelope> find(const QString& audioPath) const;
    // Keeps the envelope for the file as it is now; false when it could not be written.
    bool store(const QString& audioPath, const PeakEnvelope& envelope) const;
    // Where the file's entry lies (whether or not there is one).
    QString entryPath(const QString& audioPath) const;

private:
    void trim() const;

    QString folder_;
    qint64 limitBytes_;
};

}  // namespace clipwren::waveform
