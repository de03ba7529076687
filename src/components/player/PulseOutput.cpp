#include "components/player/PulseOutput.h"

#include "components/player/ThreadPriority.h"

#include <pulse/pulseaudio.h>
#include <pulse/rtclock.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <functional>
#include <numeric>
#include <string_view>
#include <vector>

namespace clipwren::player {

namespace {

// Buffer sizes, chosen with bench/player/bench_player_load on two cores busy with
// three compiles that also flush large writes.
// The whole latency the server is asked to keep, and so what is in hand when the
// output thread is kept off the processor: stalls of 50-70 ms were seen at a load
// average of 12. PulseAudio gives about half of it to the device, which is what Play
// waits for: about 65 ms.
constexpr pa_usec_t kTargetLatencyUs = 150'000;
// The server asks for more sound in steps of this size.
constexpr pa_usec_t kRequestUs = 10'000;
// PipeWire: as little as its PulseAudio server allows (128 frames), so that it asks after
// each period it takes, which dates its periods (GraphTiming) from the first one on.
constexpr pa_usec_t kGraphRequestUs = 1'000;
// Playing starts once this much is queued: the first period is heard soon after Play,
// and the output tops up the rest from the decode-ahead.
constexpr pa_usec_t kStartUs = 20'000;
// How soon to ask the source again after it could not fill a request.
constexpr pa_usec_t kRefillUs = 5'000;
// PipeWire: how often to ask for a timing report while playing. Shorter than the graph's
// usual periods (5.3 to 43 ms), so most reports see the read index move by one period.
constexpr pa_usec_t kPollUs = 5'000;
// A server that has not answered by then counts as absent.
constexpr pa_usec_t kAnswerTimeoutUs = 2'000'000;
constexpr char kApplicationName[] = "Clipwren Pro";
constexpr char kIconName[] = "clipwren";

class LoopLock {
public:
    explicit LoopLock(pa_threaded_mainloop* loop) : loop_(loop) { pa_threaded_mainloop_lock(loop_); }
    ~LoopLock() { pa_threaded_mainloop_unlock(loop_); }
    LoopLock(const LoopLock&) = delete;
    LoopLock& operator=(const LoopLock&) = delete;

private:
    pa_threaded_mainloop* loop_;
};

struct OperationUnref {
    void operator()(pa_operation* operation) const { pa_operation_unref(operation); }
};
using Operation = std::unique_ptr<pa_operation, OperationUnref>;

struct ProplistFree {
    void operator()(pa_proplist* list) const { pa_proplist_free(list); }
};

// One connection to the server: a mainloop thread and a context on it.
class Connection {
public:
    Connection() = default;
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    ~Connection() {
        if (!loop_) return;
        if (context_) {
            LoopLock lock(loop_);
            pa_context_set_state_callback(context_, nullptr, nullptr);
            pa_context_disconnect(context_);
            pa_context_unref(context_);
        }
        pa_threaded_mainloop_stop(loop_);
        pa_threaded_mainloop_free(loop_);
    }

    // Connects; false when no server answers.
    bool connect(const std::string& server) {
        loop_ = pa_threaded_mainloop_new();
        if (!loop_) return false;
        std::unique_ptr<pa_proplist, ProplistFree> properties(pa_proplist_new());
        pa_proplist_sets(properties.get(), PA_PROP_APPLICATION_NAME, kApplicationName);
        pa_proplist_sets(properties.get(), PA_PROP_APPLICATION_ICON_NAME, kIconName);
        context_ = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(loop_), kApplicationName,
                                                properties.get());
        if (!context_) return false;
        pa_context_set_state_callback(context_, &Connection::onState, this);
        LoopLock lock(loop_);
        // No autospawn: a desktop starts its sound server itself, and a missing one must
        // fail at once rather than have a daemon started behind the user's back.
        if (pa_context_connect(context_, server.empty() ? nullptr : server.c_str(), PA_CONTEXT_NOAUTOSPAWN,
                               nullptr) < 0)
            return false;
        if (pa_threaded_mainloop_start(loop_) < 0) return false;
        waitFor([this] { return !PA_CONTEXT_IS_GOOD(pa_context_get_state(context_)) ||
                                pa_context_get_state(context_) == PA_CONTEXT_READY; });
        return pa_context_get_state(context_) == PA_CONTEXT_READY;
    }

    pa_threaded_mainloop* loop() const { return loop_; }
    pa_context* context() const { return context_; }
    bool failed() const { return failed_.load(std::memory_order_acquire); }

    // Loop locked: waits until done() holds or the server has not answered in time.
    bool waitFor(const std::function<bool()>& done) {
        struct Deadline {
            pa_threaded_mainloop* loop;
            bool passed = false;
        } deadline{loop_};
        pa_time_event* timeout = pa_context_rttime_new(
            context_, pa_rtclock_now() + kAnswerTimeoutUs,
            [](pa_mainloop_api*, pa_time_event*, const struct timeval*, void* data) {
                auto& deadline = *static_cast<Deadline*>(data);
                deadline.passed = true;
                pa_threaded_mainloop_signal(deadline.loop, 0);
            },
            &deadline);
        // Every callback that changes what done() looks at signals the loop.
        while (!done() && !deadline.passed && !failed()) pa_threaded_mainloop_wait(loop_);
        pa_threaded_mainloop_get_api(loop_)->time_free(timeout);
        return done();
    }

    // Loop locked: waits for an operation to complete; false when it did not.
    bool complete(Operation operation) {
        if (!operation) return false;
        pa_operation_set_state_callback(
            operation.get(),
            [](pa_operation*, void* loop) { pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0); },
            loop_);
        return waitFor([&] { return pa_operation_get_state(operation.get()) != PA_OPERATION_RUNNING; }) &&
               pa_operation_get_state(operation.get()) == PA_OPERATION_DONE;
    }

private:
    static void onState(pa_context* context, void* self) {
        auto& connection = *static_cast<Connection*>(self);
        const pa_context_state_t state = pa_context_get_state(context);
        if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED)
            connection.failed_.store(true, std::memory_order_release);
        pa_threaded_mainloop_signal(connection.loop_, 0);
    }

    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    std::atomic<bool> failed_{false};
};

struct Sink {
    std::string name;
    uint32_t rate = 0;
};

// Servers of the protocol whose timing reports differ.
enum class Server {
    PulseAudio,  // its reports date what is queued exactly
    PipeWire,    // its PulseAudio server: see GraphTiming
    // Another: its reports are taken as the protocol defines them, as PulseAudio's.
    Unknown,
};

// By the name the server gives itself ("pulseaudio", "PulseAudio (on PipeWire 0.3.65)").
Server serverNamed(std::string_view name) {
    if (name.find("PipeWire") != std::string_view::npos) return Server::PipeWire;
    return name == "pulseaudio" ? Server::PulseAudio : Server::Unknown;
}

struct Sinks {
    std::vector<Sink> all;  // in the server's order, which device numbers follow
    std::string defaultName;
    uint32_t defaultRate = 0;  // the server's default, for when no sink is the default
    Server server = Server::Unknown;

    // The sink of a device number (0: the default); nullptr when there is none such.
    const Sink* find(int device) const {
        if (device > 0) return device <= int(all.size()) ? &all[size_t(device - 1)] : nullptr;
        for (const Sink& sink : all)
            if (sink.name == defaultName) return &sink;
        return nullptr;
    }
};

// Loop locked: the server's sinks and its default; false when it does not answer.
bool listSinks(Connection& connection, Sinks& sinks) {
    const bool listed = connection.complete(Operation(pa_context_get_sink_info_list(
        connection.context(),
        [](pa_context*, const pa_sink_info* info, int last, void* list) {
            if (!last && info) static_cast<Sinks*>(list)->all.push_back({info->name, info->sample_spec.rate});
        },
        &sinks)));
    const bool server = connection.complete(Operation(pa_context_get_server_info(
        connection.context(),
        [](pa_context*, const pa_server_info* info, void* list) {
            auto& sinks = *static_cast<Sinks*>(list);
            if (!info) return;
            if (info->default_sink_name) sinks.defaultName = info->default_sink_name;
            sinks.defaultRate = info->sample_spec.rate;
            if (info->server_name) sinks.server = serverNamed(info->server_name);
        },
        &sinks)));
    return listed && server;
}

// PipeWire's PulseAudio server moves a stream's read index on by a whole period of the
// graph when it takes that period from the stream, plays it in the graph's next cycle,
// and dates each report when it answers rather than when the index moved. So the moves
// are dated by the reports asked for as the server asks for more sound, which it does
// just after a move: over the last few, the smallest (report time - read index) is when
// frame 0 was taken, give or take the server's delay in answering. What is taken is
// heard from the next cycle on, so each frame is heard two periods after the frame
// taken with it; measured against the graph's clock, within a millisecond at periods
// of 256 and 2048 frames. The period is the greatest common divisor of the index's
// recent moves, each one or more periods; the reports asked for every few milliseconds
// show single ones. Recent ones: the graph's period changes as programs come and go.
class GraphTiming {
public:
    // The indexes start over (a flush) or stood still (corked): earlier reports no longer hold.
    void forget() { *this = GraphTiming(); }

    // A report; closelyDated: asked for as the server asked for more sound.
    void report(int64_t readFrame, int64_t reportedAtNs, int rate, bool closelyDated) {
        if (readFrame != lastReadFrame_) {
            if (lastReadFrame_ >= 0 && readFrame > lastReadFrame_)
                steps_[stepCount_++ % kKept] = readFrame - lastReadFrame_;
            lastReadFrame_ = readFrame;
        }
        if (closelyDated) takenAt_[reportCount_++ % kDated] = reportedAtNs - readFrame * 1'000'000'000 / rate;
    }

    int64_t heardAtNs(int64_t writeFrame, int rate) const {
        if (stepCount_ == 0 || reportCount_ == 0) return kHeardAtUnknown;
        int64_t period = 0;
        for (size_t i = 0; i < std::min(stepCount_, kKept); ++i) period = std::gcd(period, steps_[i]);
        const int64_t frameZeroTakenAt =
            *std::min_element(takenAt_.begin(), takenAt_.begin() + ptrdiff_t(std::min(reportCount_, kDated)));
        return frameZeroTakenAt + (writeFrame + kTakenPeriods * period) * 1'000'000'000 / rate;
    }

private:
    // Moves seen over a few hundred milliseconds: enough of them are single periods.
    static constexpr size_t kKept = 32;
    // A few closely dated reports: one of them is answered promptly, and after the graph
    // has skipped cycles (an overrun) older ones date frame 0 too early.
    static constexpr size_t kDated = 4;
    static constexpr int64_t kTakenPeriods = 2;
    std::array<int64_t, kKept> steps_{};     // the read index's recent moves, frames
    std::array<int64_t, kDated> takenAt_{};  // by recent reports, when frame 0 was taken at the latest
    size_t stepCount_ = 0;
    size_t reportCount_ = 0;
    int64_t lastReadFrame_ = -1;
};

class PulseOutput final : public AudioOutput {
public:
    explicit PulseOutput(AudioSource& source) : source_(source) {}
    PulseOutput(const PulseOutput&) = delete;
    PulseOutput& operator=(const PulseOutput&) = delete;

    ~PulseOutput() override {
        if (!stream_) return;
        LoopLock lock(connection_.loop());
        if (refill_) pa_threaded_mainloop_get_api(connection_.loop())->time_free(refill_);
        if (poll_) pa_threaded_mainloop_get_api(connection_.loop())->time_free(poll_);
        pa_stream_set_state_callback(stream_, nullptr, nullptr);
        pa_stream_set_write_callback(stream_, nullptr, nullptr);
        pa_stream_disconnect(stream_);
        pa_stream_unref(stream_);
    }

    bool open(const std::string& server, int device, int rate) {
        if (!connection_.connect(server)) return false;
        LoopLock lock(connection_.loop());
        Sinks sinks;
        if (!listSinks(connection_, sinks)) return false;
        const Sink* sink = sinks.find(device);
        if (device > 0 && !sink) return false;
        const uint32_t deviceRate = sink && sink->rate > 0 ? sink->rate : sinks.defaultRate;
        server_ = sinks.server;
        rate_ = rate > 0 ? rate : deviceRate > 0 ? int(deviceRate) : kDefaultOutputRate;

        const pa_sample_spec spec{PA_SAMPLE_FLOAT32NE, uint32_t(rate_), uint8_t(kOutputChannels)};
        frameBytes_ = pa_frame_size(&spec);
        pa_channel_map channels;
        pa_channel_map_init_stereo(&channels);
        std::unique_ptr<pa_proplist, ProplistFree> properties(pa_proplist_new());
        pa_proplist_sets(properties.get(), PA_PROP_MEDIA_ROLE, "music");
        stream_ = pa_stream_new_with_proplist(connection_.context(), "Playback", &spec, &channels, properties.get());
        if (!stream_) return false;
        pa_stream_set_state_callback(stream_, &PulseOutput::onState, this);
        pa_stream_set_write_callback(stream_, &PulseOutput::onWrite, this);

        pa_buffer_attr buffer{};
        buffer.maxlength = uint32_t(-1);
        buffer.tlength = uint32_t(pa_usec_to_bytes(kTargetLatencyUs, &spec));
        buffer.prebuf = uint32_t(pa_usec_to_bytes(kStartUs, &spec));
        buffer.minreq = uint32_t(pa_usec_to_bytes(server_ == Server::PipeWire ? kGraphRequestUs : kRequestUs, &spec));
        buffer.fragsize = uint32_t(-1);
        // Timing is kept up to date and interpolated, so asking for the latency costs no
        // round trip to the server.
        const auto flags = pa_stream_flags_t(PA_STREAM_START_CORKED | PA_STREAM_ADJUST_LATENCY |
                                             PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE);
        if (pa_stream_connect_playback(stream_, sink && device > 0 ? sink->name.c_str() : nullptr, &buffer, flags,
                                       nullptr, nullptr) < 0)
            return false;
        connection_.waitFor([this] { return !PA_STREAM_IS_GOOD(pa_stream_get_state(stream_)) ||
                                            pa_stream_get_state(stream_) == PA_STREAM_READY; });
        return pa_stream_get_state(stream_) == PA_STREAM_READY;
    }

    int rate() const override { return rate_; }

    void play() override {
        LoopLock lock(connection_.loop());
        playing_ = true;
        Operation(pa_stream_cork(stream_, 0, nullptr, nullptr));
        if (server_ == Server::PipeWire) {
            if (poll_)
                pa_context_rttime_restart(connection_.context(), poll_, pa_rtclock_now());
            else
                poll_ = pa_context_rttime_new(connection_.context(), pa_rtclock_now(), &PulseOutput::onPoll, this);
        }
        // What the server asked for while halted is filled from the loop's own thread.
        scheduleFill(0);
    }

    void halt() override {
        LoopLock lock(connection_.loop());
        playing_ = false;
        Operation(pa_stream_cork(stream_, 1, nullptr, nullptr));
        Operation(pa_stream_flush(stream_, nullptr, nullptr));
        graphTiming_.forget();
        if (refill_) pa_context_rttime_restart(connection_.context(), refill_, PA_USEC_INVALID);
    }

    void dropQueued() override {
        LoopLock lock(connection_.loop());
        Operation(pa_stream_flush(stream_, nullptr, nullptr));
        graphTiming_.forget();
        if (playing_) scheduleFill(0);
    }

    bool lost() const override { return connection_.failed() || streamFailed_.load(std::memory_order_acquire); }

private:
    // ---- the loop's thread ----
    static void onState(pa_stream* stream, void* self) {
        auto& output = *static_cast<PulseOutput*>(self);
        const pa_stream_state_t state = pa_stream_get_state(stream);
        if (state == PA_STREAM_READY) raiseThreadPriority(ThreadRole::Output);
        if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED)
            output.streamFailed_.store(true, std::memory_order_release);
        pa_threaded_mainloop_signal(output.connection_.loop(), 0);
    }

    static void onWrite(pa_stream* stream, size_t, void* self) {
        auto& output = *static_cast<PulseOutput*>(self);
        // PipeWire asks for more just after its read index has moved: a report asked for
        // now dates that move closely.
        if (output.server_ == Server::PipeWire && output.playing_)
            Operation(pa_stream_update_timing_info(stream, &PulseOutput::onTiming<true>, &output));
        output.fill();
    }

    static void onRefill(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self) {
        static_cast<PulseOutput*>(self)->fill();
    }

    template <bool closelyDated>
    static void onTiming(pa_stream* stream, int success, void* self) {
        const pa_timing_info* timing = pa_stream_get_timing_info(stream);
        if (!success || !timing || !timing->playing || timing->read_index_corrupt) return;
        auto& output = *static_cast<PulseOutput*>(self);
        const int64_t reportedAtNs = steadyNowNs() - int64_t(pa_timeval_age(&timing->timestamp)) * 1000;
        output.graphTiming_.report(timing->read_index / int64_t(output.frameBytes_), reportedAtNs, output.rate_,
                                   closelyDated);
    }

    // PipeWire: a report every few milliseconds while playing, so that the read index's
    // moves are seen soon after they happen, and one period at a time.
    static void onPoll(pa_mainloop_api*, pa_time_event* poll, const struct timeval*, void* self) {
        auto& output = *static_cast<PulseOutput*>(self);
        if (!output.playing_) return;
        Operation(pa_stream_update_timing_info(output.stream_, &PulseOutput::onTiming<false>, &output));
        pa_context_rttime_restart(output.connection_.context(), poll, pa_rtclock_now() + kPollUs);
    }

    // When the next frame written will be heard, from the server's last timing report:
    // the frame it was reading then is heard the sink's delay after the report, and what
    // has been written since follows at the stream's rate. (libpulse's own interpolated
    // latency starts from zero after Play and needs a good part of a second to settle.)
    // PipeWire's reports are read otherwise (GraphTiming). Unknown until a report of the
    // playing stream has come in.
    int64_t heardAtNs() const {
        const pa_timing_info* timing = pa_stream_get_timing_info(stream_);
        if (!timing || !timing->playing || timing->read_index_corrupt || timing->write_index_corrupt)
            return kHeardAtUnknown;
        if (server_ == Server::PipeWire) {
            const int64_t taken = graphTiming_.heardAtNs(timing->write_index / int64_t(frameBytes_), rate_);
            return taken == kHeardAtUnknown ? taken : taken + int64_t(timing->sink_usec) * 1000;
        }
        const int64_t reportedAtNs = steadyNowNs() - int64_t(pa_timeval_age(&timing->timestamp)) * 1000;
        const int64_t queuedFrames = (timing->write_index - timing->read_index) / int64_t(frameBytes_);
        return reportedAtNs + int64_t(timing->sink_usec) * 1000 + queuedFrames * 1'000'000'000 / rate_;
    }

    // Writes what the server asks for, as far as the source has sound; what is left
    // is asked for again shortly, for the server sends no new request until it has
    // played some of what it holds.
    void fill() {
        if (!playing_ || pa_stream_get_state(stream_) != PA_STREAM_READY) return;
        size_t wanted = pa_stream_writable_size(stream_);
        if (wanted == size_t(-1)) return;
        wanted /= frameBytes_;
        while (wanted > 0) {
            void* data = nullptr;
            size_t bytes = wanted * frameBytes_;
            if (pa_stream_begin_write(stream_, &data, &bytes) < 0 || !data) return;
            const int asked = int(bytes / frameBytes_);
            const int got = asked > 0 ? source_.render(static_cast<float*>(data), asked, heardAtNs()) : 0;
            if (got <= 0) {
                pa_stream_cancel_write(stream_);
                break;
            }
            pa_stream_write(stream_, data, size_t(got) * frameBytes_, nullptr, 0, PA_SEEK_RELATIVE);
            wanted -= size_t(got);
            if (got < asked) break;
        }
        if (wanted > 0) scheduleFill(kRefillUs);
    }

    // Loop locked.
    void scheduleFill(pa_usec_t delayUs) {
        const pa_usec_t when = pa_rtclock_now() + delayUs;
        if (refill_)
            pa_context_rttime_restart(connection_.context(), refill_, when);
        else
            refill_ = pa_context_rttime_new(connection_.context(), when, &PulseOutput::onRefill, this);
    }

    AudioSource& source_;
    Connection connection_;  // first: ends last
    pa_stream* stream_ = nullptr;
    pa_time_event* refill_ = nullptr;
    bool playing_ = false;  // loop locked
    std::atomic<bool> streamFailed_{false};
    Server server_ = Server::Unknown;
    GraphTiming graphTiming_;  // loop locked
    pa_time_event* poll_ = nullptr;
    int rate_ = 0;
    size_t frameBytes_ = 0;
};

}  // namespace

PulseOutputFactory::PulseOutputFactory(std::string server) : server_(std::move(server)) {}

std::unique_ptr<AudioOutput> PulseOutputFactory::open(AudioSource& source, int device, int rate) {
    auto output = std::make_unique<PulseOutput>(source);
    if (!output->open(server_, device, rate)) return nullptr;
    return output;
}

int PulseOutputFactory::deviceCount() {
    Connection connection;
    if (!connection.connect(server_)) return 0;
    LoopLock lock(connection.loop());
    Sinks sinks;
    return listSinks(connection, sinks) ? int(sinks.all.size()) : 0;
}

}  // namespace clipwren::player
