#pragma once
// What the page headers of an Ogg file tell before FFmpeg reads its packets: whether
// it chains several streams one after another (files joined with cat, a radio
// recording), and where a stream that fits on one page ends.
#include <QByteArray>

#include <cstdint>
#include <optional>

namespace clipwren::decode {

// Walks the page headers of the file at `url` (an FFmpeg URL) without reading the
// pages' contents: a page that begins a stream after pages of data means a chain.
// Each chained stream counts its timestamps from its own start, so such a file cannot
// be sought by timestamp.
bool hasChainedOggStreams(const QByteArray& url);

// The granule position of a single stream whose first page of data with a position is
// also its last (a sound of up to a second or so): the stream's length in samples from
// its first decoded sample, as libvorbis reads it, which cuts such a stream's end there
// rather than its beginning. nullopt for longer and chained streams.
std::optional<int64_t> onePageStreamGranule(const QByteArray& url);

}  // namespace clipwren::decode
