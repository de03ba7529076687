#pragma once
// The one place where an output file's name chooses its encoding settings; used by
// the window's "Save selection" and by the command-line cutter alike.
#include "components/soundeditor/SoundEditor.h"

#include <QString>

namespace clipwren {

// Writes the settings for the last three characters of outputPath, compared without
// regard to case: "mp3", "wma", "aac", "mp4", "ogg"; anything else gets format code 1,
// which lets the output's own extension decide (WAV, M4A, FLAC).
void SetOutputFormatForPath(OutputFormatSettings& format, const QString& outputPath);

// Whether the source's own encoded frames are copied: where the output's settings are the
// source's (as the window does), always (format code 7: the cut fails where they cannot
// be), or never.
enum class CopyRule { WhereAlike, Always, Never };

// The settings for outputPath as above, with the copy rule.
OutputFormatSettings OutputFormatFor(const QString& outputPath, CopyRule copy);

}  // namespace clipwren
