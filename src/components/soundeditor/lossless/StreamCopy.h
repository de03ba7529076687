#pragma once
// What the lossless cutters share: how a copy ends, and the hooks through which the
// editor follows it and stops it. A copy ends as a Failure: none when the output is
// written; copyNotPossible(why) when nothing is written because this cut must be
// encoded anew; kCancelled; or the code of what went wrong.
#include "components/errors/Failure.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

namespace clipwren::soundeditor {

// A cancelled step fails with this code: the table has none of its own for it.
inline constexpr int32_t kCancelled = err::UnknownError;

inline Failure copyNotPossible(const QString& why) { return {err::NotAvailableForFormat, why}; }
inline bool isCopyNotPossible(const Failure& failure) { return failure.code == err::NotAvailableForFormat; }

// Tag fields by FFmpeg's generic names ("title", "artist", "album", "album_artist",
// "track"), their values in UTF-8.
using TagFields = std::vector<std::pair<QByteArray, QByteArray>>;

struct CopyHooks {
    std::function<void(int64_t done, int64_t total)> progress;
    std::function<bool()> cancelled;
};

}  // namespace clipwren::soundeditor
