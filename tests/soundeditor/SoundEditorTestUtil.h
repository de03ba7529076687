#pragma once
// Helpers shared by the sound editor's tests.
#include "support/TestSupport.h"

#include <QString>
#include <QTemporaryDir>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace soundeditortest {

// Frame of the loudest sample across channels: where a click landed after a lossy codec.
inline int64_t peakFrame(const std::vector<int16_t>& interleaved, int channels) {
    int64_t best = -1;
    int peak = -1;
    for (size_t i = 0; i < interleaved.size(); ++i) {
        if (std::abs(int(interleaved[i])) > peak) {
            peak = std::abs(int(interleaved[i]));
            best = int64_t(i) / channels;
        }
    }
    return best;
}

inline double probeNumber(const std::map<std::string, std::string>& probe, const std::string& key) {
    const auto it = probe.find(key);
    return it == probe.end() ? 0.0 : std::atof(it->second.c_str());
}

// Deterministic white noise: keeps the encoders at their full bit rate.
inline std::vector<float> noise(int channels, int64_t frames, float amplitude) {
    std::vector<float> samples(size_t(frames * channels));
    uint32_t state = 12345;
    for (float& s : samples) {
        state = state * 1664525u + 1013904223u;
        s = amplitude * (float(state >> 8) / float(1 << 23) - 1.0f);
    }
    return samples;
}

// The stream length the container declares, in samples (for MP4, what its edit list keeps).
inline int64_t declaredFrames(const QString& path) {
    const auto r = testsupport::run("ffprobe", {"-v", "error", "-select_streams", "a:0", "-show_entries",
                                                "stream=duration_ts", "-of", "default=nw=1:nk=1", path});
    return r.out.trimmed().toLongLong();
}

}  // namespace soundeditortest
