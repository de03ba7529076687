#pragma once
// The quick way through a cut that keeps an MP3's encoding: the frames are copied by the
// code the sound editor copies them with, from the selection the editor would hold,
// but without loading the decoder and encoder libraries, whose loading alone costs
// more time and memory than the copy. Whatever is not such a cut, or not plainly one,
// goes the editor's way, which then makes the cut or tells why it cannot.
#include "CutCommandLine.h"

#include <optional>

namespace clipwren::cut {

// The program's exit status when the cut was made here (or interrupted here); nullopt
// when it is the editor's to make.
std::optional<int> runQuickCopy(const CutRequest& request);

}  // namespace clipwren::cut
