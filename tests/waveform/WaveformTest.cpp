// The waveform loader on fixture files made here: the envelope it draws, its
// cancellation, and the peak cache (hit, stale, damaged, unwritable, size limit),
// always in a temporary cache folder.
#include "components/decode/SpotReader.h"
#include "components/errors/modSoundErrDesc.h"
#include "components/waveform/WaveformLoader.h"
#include "support/TestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>

using namespace clipwren::waveform;
namespace ts = testsupport;

namespace {

constexpr int kRate = 8000;
constexpr int kColumns = 100;

// One second of silence, then a second of a loud tone: flat, then tall.
std::vector<float> quietThenLoud(int channels) {
    auto samples = ts::silence(channels, kRate);
    const auto loud = ts::tone(kRate, channels, kRate, 440, 0.8);
    samples.insert(samples.end(), loud.begin(), loud.end());
    return samples;
}

std::vector<float> loudThenQuiet() {
    auto samples = ts::tone(kRate, 1, kRate, 440, 0.8);
    const auto quiet = ts::silence(1, kRate);
    samples.insert(samples.end(), quiet.begin(), quiet.end());
    return samples;
}

// A long silent WAV made in an instant: a header, then a file extended with zeros.
void writeLongSilence(const QString& path, int64_t frames) {
    ts::writeWav(path, kRate, 1, {});
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    const quint32 dataBytes = quint32(frames * 2);
    const quint32 riffBytes = 36 + dataBytes;
    file.seek(4);
    file.write(reinterpret_cast<const char*>(&riffBytes), 4);  // the tests run little-endian
    file.seek(40);
    file.write(reinterpret_cast<const char*>(&dataBytes), 4);
    ASSERT_TRUE(file.resize(44 + dataBytes));
}

class WaveformTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    QString path(const QString& name) const { return dir.filePath(name); }
    QString cacheFolder() const { return dir.filePath("cache"); }

    // Loads a file and waits for its final picture; true if it shows the sound.
    bool loadAndWait(WaveformLoader& loader, const QString& file) {
        bool finished = false;
        QObject context;
        QObject::connect(&loader, &WaveformLoader::changed, &context, [&](bool last) { finished = last; });
        loader.load(file);
        EXPECT_TRUE(QTest::qWaitFor([&] { return finished; }, 60000));
        return loader.msPerPeak() > 0;
    }
    ColumnPeaks pictureOf(const QString& file, const QString& cache) {
        WaveformLoader loader{PeakCache(cache)};
        EXPECT_TRUE(loadAndWait(loader, file));
        return loader.columns(kColumns, 0, 2000);
    }

    QTemporaryDir dir;
};

// Columns [from, to) all at most `flat` or all at least `tall` in extent.
void expectFlat(const ColumnPeaks& p, int from, int to) {
    for (int c = from; c < to; ++c) {
        EXPECT_LT(std::fabs(p.high[c]), 0.01f) << c;
        EXPECT_LT(std::fabs(p.low[c]), 0.01f) << c;
    }
}
void expectTall(const ColumnPeaks& p, int from, int to) {
    for (int c = from; c < to; ++c) {
        EXPECT_GT(p.high[c], 0.7f) << c;
        EXPECT_LT(p.low[c], -0.7f) << c;
    }
}

}  // namespace

TEST_F(WaveformTest, EnvelopeDrawsSilenceFlatAndSoundTallOnEveryChannelLayout) {
    struct Case {
        const char* name;
        int channels;
        std::function<void(std::vector<float>&)> shape;
    };
    const Case cases[] = {
        {"mono", 1, {}},
        {"stereo", 2, {}},
        // Both channels count together: sound in the left channel alone is as tall.
        {"left only", 2, [](std::vector<float>& s) { for (size_t i = 1; i < s.size(); i += 2) s[i] = 0; }},
        {"right only", 2, [](std::vector<float>& s) { for (size_t i = 0; i < s.size(); i += 2) s[i] = 0; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto samples = quietThenLoud(c.channels);
        if (c.shape) c.shape(samples);
        const QString file = path(QStringLiteral("%1.wav").arg(c.name));
        ts::writeWav(file, kRate, c.channels, samples);
        const ColumnPeaks picture = pictureOf(file, cacheFolder());
        ASSERT_EQ(picture.low.size(), size_t(kColumns));
        expectFlat(picture, 0, kColumns / 2 - 1);
        expectTall(picture, kColumns / 2 + 1, kColumns);
    }
}

TEST_F(WaveformTest, OneSampleIsAPictureAndAnEmptySoundIsNone) {
    const QString one = path("one.wav");
    ts::writeWav(one, kRate, 1, {0.5f});
    WaveformLoader loader{PeakCache(cacheFolder())};
    ASSERT_TRUE(loadAndWait(loader, one));
    const ColumnPeaks picture = loader.columns(3, 0, 1);
    EXPECT_NEAR(picture.high[0], 0.5, 0.01);
    EXPECT_NEAR(picture.low[0], 0.5, 0.01);

    const QString empty = path("empty.wav");
    ts::writeWav(empty, kRate, 1, {});
    EXPECT_FALSE(loadAndWait(loader, empty));
    EXPECT_TRUE(std::isnan(loader.columns(3, 0, 1).high[0]));
    EXPECT_FALSE(QFile::exists(PeakCache(cacheFolder()).entryPath(empty)));
}

TEST_F(WaveformTest, LoadingAnotherFileCancelsTheFirst) {
    const QString hour = path("hour.wav");
    writeLongSilence(hour, int64_t(kRate) * 3600);
    const QString second = path("second.wav");
    ts::writeWav(second, kRate, 1, quietThenLoud(1));
    const PeakCache cache(cacheFolder());
    {
        WaveformLoader loader{cache};
        loader.load(hour);
        ASSERT_TRUE(loadAndWait(loader, second));
        // The second file's picture: the hour is silent throughout.
        expectTall(loader.columns(kColumns, 0, 2000), kColumns / 2 + 1, kColumns);
    }
    // The loader has waited for its threads: the hour was never finished, so never kept.
    EXPECT_TRUE(QFile::exists(cache.entryPath(second)));
    EXPECT_FALSE(QFile::exists(cache.entryPath(hour)));
}

TEST_F(WaveformTest, CacheServesTheSameFileAndIsRebuiltWhenStaleOrDamaged) {
    const QString file = path("song.wav");
    ts::writeWav(file, kRate, 1, quietThenLoud(1));
    const PeakCache cache(cacheFolder());
    expectTall(pictureOf(file, cacheFolder()), kColumns / 2 + 1, kColumns);
    ASSERT_TRUE(QFile::exists(cache.entryPath(file)));

    // New sound of the same size with the old time stamp: the cache cannot tell, so the
    // old picture coming back shows that it was used.
    const QDateTime stamp = QFileInfo(file).lastModified();
    ts::writeWav(file, kRate, 1, loudThenQuiet());
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.setFileTime(stamp, QFileDevice::FileModificationTime));
    }
    expectTall(pictureOf(file, cacheFolder()), kColumns / 2 + 1, kColumns);

    // A new time stamp: the entry is stale and the new sound is drawn.
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.setFileTime(stamp.addSecs(10), QFileDevice::FileModificationTime));
    }
    expectTall(pictureOf(file, cacheFolder()), 0, kColumns / 2 - 1);
    ASSERT_TRUE(cache.find(file).has_value());

    // Damaged or foreign entries are passed over and replaced.
    for (const QByteArray& damage : {QByteArray("not a peak file"), QByteArray()}) {
        QFile entry(cache.entryPath(file));
        ASSERT_TRUE(entry.open(QIODevice::ReadWrite));
        if (damage.isEmpty()) {
            entry.seek(entry.size() / 2);
            entry.write("\xff\xff\xff\xff", 4);
        } else {
            entry.resize(0);
            entry.write(damage);
        }
        entry.close();
        EXPECT_FALSE(cache.find(file).has_value());
        expectTall(pictureOf(file, cacheFolder()), 0, kColumns / 2 - 1);
        EXPECT_TRUE(cache.find(file).has_value());
    }
}

TEST_F(WaveformTest, UnwritableCacheOnlyKeepsNothing) {
    const QString file = path("song.wav");
    ts::writeWav(file, kRate, 1, quietThenLoud(1));
    // A file where the cache folder should be: nothing can be written below it.
    const QString blocked = path("blocked");
    QFile(blocked).open(QIODevice::WriteOnly);
    expectTall(pictureOf(file, blocked), kColumns / 2 + 1, kColumns);
    EXPECT_FALSE(PeakCache(blocked).store(file, PeakEnvelope(kRate, 10)));
    expectTall(pictureOf(file, QString()), kColumns / 2 + 1, kColumns);
}

TEST_F(WaveformTest, CacheDropsTheEntriesUsedLongestAgoBeyondItsLimit) {
    // Each entry holds 4 bytes per peak: 400 peaks make entries of about 1.7 kB.
    const PeakCache cache(cacheFolder(), 4000);
    const PeakEnvelope envelope(kRate, 400 * kFramesPerPeak);
    QStringList files;
    for (int i = 0; i < 3; ++i) {
        files << path(QStringLiteral("%1.wav").arg(i));
        ts::writeWav(files.last(), kRate, 1, {0.1f});
        ASSERT_TRUE(cache.store(files.last(), envelope));
        // Stored in order, each one a minute after the one before.
        QFile entry(cache.entryPath(files.last()));
        ASSERT_TRUE(entry.open(QIODevice::ReadWrite));
        entry.setFileTime(QDateTime::currentDateTimeUtc().addSecs(60 * (i - 3)), QFileDevice::FileModificationTime);
    }
    EXPECT_FALSE(cache.find(files[0]).has_value());
    EXPECT_TRUE(cache.find(files[1]).has_value());
    EXPECT_TRUE(cache.find(files[2]).has_value());
    EXPECT_EQ(QDir(cacheFolder()).entryList(QDir::Files).size(), 2);
}

TEST(SpotReader, PeaksNearAPlaceAreThoseOfTheSoundThere) {
    QTemporaryDir dir;
    const QString file = dir.filePath("spots.ogg");
    const QString wav = dir.filePath("spots.wav");
    ts::writeWav(wav, 44100, 2, [] {
        auto samples = ts::silence(2, 44100 * 5);
        const auto loud = ts::tone(44100, 2, 44100 * 5, 440, 0.8);
        samples.insert(samples.end(), loud.begin(), loud.end());
        return samples;
    }());
    for (const QString& sound : {wav, [&] { ts::ffmpegConvert(wav, file, {"-c:a", "libvorbis"}); return file; }()}) {
        SCOPED_TRACE(sound.toStdString());
        auto opened = clipwren::decode::SpotReader::open(sound);
        ASSERT_TRUE(opened);
        auto& reader = *opened;
        EXPECT_NEAR(double(reader->durationFrames()), 441000.0, 2048.0);
        float low = 1, high = -1;
        ASSERT_TRUE(reader->peaksNear(44100 * 2, 4096, &low, &high));
        EXPECT_LT(high - low, 0.02f);
        ASSERT_TRUE(reader->peaksNear(44100 * 8, 4096, &low, &high));
        EXPECT_GT(high, 0.7f);
        EXPECT_LT(low, -0.7f);
    }
    const auto missing = clipwren::decode::SpotReader::open(dir.filePath("missing.mp3"));
    EXPECT_FALSE(missing);
    EXPECT_EQ(missing.failure().code, clipwren::err::InvalidSoundFile);
}
