#pragma once
// Whether an Ogg file chains several streams one after another (files joined with
// cat, a radio recording). Each chained stream counts its timestamps from its own
// start, so such a file cannot be sought by timestamp.
#include <QByteArray>

namespace clipwren::decode {

// Walks the page headers of the file at `url` (an FFmpeg URL) without reading the
// pages' contents: a page that begins a stream after pages of data means a chain.
bool hasChainedOggStreams(const QByteArray& url);

}  // namespace clipwren::decode
