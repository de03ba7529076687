#pragma once
// A list of cuts for `clipwren-cut --list FILE`: one cut per line, its input, begin,
// end and output, separated by tabs, or by spaces where a line holds no tab. Empty
// lines and lines starting with # are passed over.
#include "CutCommandLine.h"

#include <QByteArray>
#include <QString>
#include <vector>

namespace clipwren::cut {

// One cut of a batch: a line of a list, or a track of a cue sheet.
struct ListedCut {
    QString name;   // how a failure names it: "line 4" (counted from 1), "track 3"
    CutRequest request;
    QString error;  // what is wrong with it; empty when it is a cut
};

std::vector<ListedCut> parseCutList(const QByteArray& text);

}  // namespace clipwren::cut
