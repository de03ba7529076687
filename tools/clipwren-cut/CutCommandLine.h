#pragma once
// The command line of clipwren-cut: what to cut, from where to where, and into which file.
#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

#include "components/processing/PieceShaping.h"
#include "components/soundeditor/Selection.h"
#include "components/soundeditor/lossless/StreamCopy.h"

namespace clipwren::cut {

struct CutRequest {
    QString input;
    QString output;
    // In milliseconds from the command line or a list, in CD frames from a cue sheet. The
    // editor clamps an end past the sound's length to the length, so "to the end" needs
    // no separate probe of the file.
    soundeditor::SampleRange range;
    // Only a copy of the source's own encoded frames will do (--copy), or none
    // (--reencode); without either a cut is copied where the settings are alike.
    bool keepEncoding = false;
    bool encodeAnew = false;
    // Say whether the cut was copied or encoded anew (--verbose).
    bool verbose = false;
    // Fades at the piece's ends and the loudness to bring it to (--fade-in, --fade-out,
    // --normalize[=LUFS]), as the window's "Play marked" plays them.
    processing::Shaping shaping;
    // A cue sheet's track: its title, performer, album and number, in place of the input's.
    soundeditor::TagFields tags;
};

// The cuts of a list (--list FILE) or the tracks of a cue sheet (--cue SHEET), several
// at once (-j N).
struct BatchRequest {
    QString list;  // "-": standard input
    QString cueSheet;
    QString outputFolder;  // for the tracks; empty: the sheet's folder
    int jobs = 1;  // cuts running at once; by default one for each processor
    // For every cut: --copy, --reencode, --verbose; for a list's, the fades and --normalize.
    CutRequest options;
};

struct CommandLine {
    enum class Action { Cut, Batch, Help, Version, UsageError };
    Action action = Action::UsageError;
    CutRequest request;
    BatchRequest batch;
    QString error;  // for UsageError
};

// A time on the command line: the program's time text (mm:ss:mmm) or seconds,
// optionally with a decimal point ("83.456"), rounded to the millisecond.
std::optional<int32_t> parseCutTime(const QString& text);

// Where the window would put the cut of `input`: the stored output folder (or its
// default, "My Ringtones" in the documents folder), the input's base name, "-part.mp3".
QString defaultOutputPath(const QString& input);

// The arguments of main(), the program name first, each file name as the file system
// holds it.
QStringList argumentsOf(int argc, char** argv);

// args as argumentsOf() gives them.
CommandLine parseCommandLine(const QStringList& args);

QString helpText();
QString versionText();

}  // namespace clipwren::cut
