#include "components/waveform/SampleReader.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "components/decode/AudioDecoder.h"

namespace clipwren::waveform {

SampleReader::SampleReader(QObject* parent) : QObject(parent), worker_([this] { run(); }) {}

SampleReader::~SampleReader() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    worker_.join();
}

void SampleReader::setFile(const QString& path) {
    {
        std::lock_guard lock(mutex_);
        path_ = path;
        ++file_;
        pending_.reset();
        asked_.reset();
        stretch_ = std::make_shared<Stretch>();
    }
    wake_.notify_all();
}

void SampleReader::request(double fromMs, double toMs) {
    {
        std::lock_guard lock(mutex_);
        if (asked_ && asked_->fromMs <= fromMs && asked_->toMs >= toMs) return;
        pending_ = asked_ = Request{fromMs, toMs};
    }
    wake_.notify_all();
}

std::shared_ptr<const SampleReader::Stretch> SampleReader::stretch() const {
    std::lock_guard lock(mutex_);
    return stretch_;
}

void SampleReader::run() {
    std::unique_ptr<decode::AudioDecoder> decoder;
    uint64_t openFile = 0;
    std::vector<float> frames;
    for (;;) {
        Request request;
        QString path;
        uint64_t file = 0;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || pending_; });
            if (stopping_) return;
            request = *pending_;
            pending_.reset();
            path = path_;
            file = file_;
        }
        if (file != openFile) {
            decoder.reset();
            openFile = file;
            // The source's own rate and channels: the samples the cut will take.
            if (!path.isEmpty()) {
                if (auto opened = decode::AudioDecoder::open(path, 0, 0)) decoder = std::move(*opened);
            }
            if (decoder) decoder->expectSeeks();
        }
        if (!decoder) continue;
        const int rate = decoder->outputRate();
        const int channels = decoder->outputChannels();
        const int64_t first = std::clamp<int64_t>(int64_t(std::floor(request.fromMs * rate / 1000.0)), 0,
                                                  decoder->lengthFrames());
        const int64_t last = std::clamp<int64_t>(int64_t(std::ceil(request.toMs * rate / 1000.0)), first,
                                                 decoder->lengthFrames());
        Stretch read{rate, first, {}};
        if (decoder->seek(first) == 0) {
            frames.resize(size_t((last - first) * channels));
            int64_t got = 0;
            while (got < last - first) {
                const int64_t n = decoder->read(frames.data() + got * channels, last - first - got);
                if (n <= 0) break;
                got += n;
            }
            read.samples.resize(size_t(got));
            for (int64_t f = 0; f < got; ++f) {
                float extreme = 0;
                for (int c = 0; c < channels; ++c) {
                    const float v = frames[size_t(f * channels + c)];
                    if (std::abs(v) > std::abs(extreme)) extreme = v;
                }
                read.samples[size_t(f)] = extreme;
            }
        }
        {
            std::lock_guard lock(mutex_);
            if (file != file_) continue;
            stretch_ = std::make_shared<Stretch>(std::move(read));
        }
        emit ready();
    }
}

}  // namespace clipwren::waveform
