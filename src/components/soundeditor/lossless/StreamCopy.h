#pragma once
// What the lossless cutters share: how a copy ends, and the hooks through which the
// editor follows it and stops it.
#include <QString>
#include <cstdint>
#include <functional>

namespace clipwren::soundeditor {

struct CopyResult {
    enum class Status {
        Copied,       // the output is written
        NotPossible,  // nothing written: this cut must be re-encoded, for `reason`
        Failed,       // the copy was tried and failed with `error`
        Cancelled,
    };
    Status status = Status::Copied;
    int32_t error = 0;
    QString reason;

    static CopyResult copied() { return {}; }
    static CopyResult notPossible(const QString& why) { return {Status::NotPossible, 0, why}; }
    static CopyResult failed(int32_t code) { return {Status::Failed, code, QString()}; }
    static CopyResult cancelled() { return {Status::Cancelled, 0, QString()}; }
};

struct CopyHooks {
    std::function<void(int64_t done, int64_t total)> progress;
    std::function<bool()> cancelled;
};

}  // namespace clipwren::soundeditor
