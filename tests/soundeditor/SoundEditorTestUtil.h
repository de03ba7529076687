#pragma once
// Helpers shared by the sound editor's tests.
#include "components/errors/modSoundErrDesc.h"
#include "components/soundeditor/OutputFormatForPath.h"
#include "components/soundeditor/SoundEditor.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QSignalSpy>
#include <QString>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace soundeditortest {

using clipwren::SoundEditor;
namespace err = clipwren::err;

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

constexpr int kRate = 44100;
constexpr int kChannels = 2;
constexpr int kWaitMs = 120000;  // generous: a completion that never comes fails, a slow one does not

inline int64_t framesAt(int64_t ms, int rate = kRate) { return (ms * rate + 500) / 1000; }

class SoundEditorTest : public ::testing::Test {
protected:
    // A 10 s stereo WAV of quiet tone with clicks at known frames.
    QString makeSource(int rate = kRate, int channels = kChannels, int64_t seconds = 10,
                       const std::vector<int64_t>& clicks = {}) {
        auto samples = testsupport::tone(rate, channels, seconds * rate, 330.0, 0.05);
        for (int64_t click : clicks) testsupport::addClick(samples, channels, click, 0.95f);
        const QString path = dir.filePath(QStringLiteral("source-%1-%2.wav").arg(rate).arg(channels));
        testsupport::writeWav(path, rate, channels, samples);
        return path;
    }

    // Each operation must finish with exactly its own completion event, carrying the result.
    int32_t waitFor(void (SoundEditor::*completion)(qint32), int32_t started) {
        if (started != err::Ok) return started;
        QSignalSpy spy(&editor, completion);
        if (!spy.wait(kWaitMs)) return 1;
        return spy.first().first().toInt();
    }
    int32_t load(const QString& path) { return waitFor(&SoundEditor::LoadCompleted, editor.OpenFile(path)); }
    int32_t crop(int32_t beginMs, int32_t endMs) {
        const int32_t started = editor.CropToRange(beginMs, endMs);
        if (started != err::Ok) return started;
        QSignalSpy spy(&editor, &SoundEditor::CropCompleted);
        return spy.wait(kWaitMs) ? spy.first().first().toInt() : 1;
    }
    int32_t exportTo(const QString& path, int rate = kRate, int channels = kChannels) {
        clipwren::SetOutputFormatForPath(editor.OutputFormat(), path);
        return waitFor(&SoundEditor::ExportCompleted, editor.ExportFile(rate, channels, 0, 0, -1, path));
    }
    int32_t cut(const QString& source, int32_t beginMs, int32_t endMs, const QString& output) {
        int32_t result = load(source);
        if (result == err::Ok) result = crop(beginMs, endMs);
        return result == err::Ok ? exportTo(output) : result;
    }
    QStringList filesIn(const QString& folder) const {
        return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    }

    QTemporaryDir dir;
    SoundEditor editor;
};

}  // namespace soundeditortest
