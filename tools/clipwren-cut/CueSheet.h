#pragma once
// `clipwren-cut --cue SHEET`: the tracks of a cue sheet as cuts of its sound file(s).
// Each track runs from its INDEX 01 to the next track's INDEX 01 in the same file (a
// pause before a track, its INDEX 00, stays at the end of the track before, as on the
// disc), the first track of a file from the file's start and the last to its end, so
// that the tracks join up to the whole file without a sample lost or doubled. Positions
// are CD frames (1/75 s), exact at any rate that is a multiple of 75.
#include "CutList.h"

#include <QString>
#include <vector>

namespace clipwren::cut {

// The cuts for request.cueSheet, with request.options; an empty list and *error set when
// the sheet cannot be read or holds no track.
std::vector<ListedCut> cutsOfCueSheet(const BatchRequest& request, QString* error);

// "NN - PERFORMER - TITLE" made fit for a file name on any common file system: no
// path separators, no characters Windows refuses, no leading dot, at most 200 bytes.
QString trackFileName(int number, const QString& performer, const QString& title);

}  // namespace clipwren::cut
