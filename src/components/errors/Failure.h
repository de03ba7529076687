#pragma once
// The one way a step reports a failure: the component's error code, whose text
// GetErrorDescription gives the user, and where a file had a part in it a detail line
// with the file and the system's (or the decoder's) reason ("/music/ring.mp3: Permission
// denied"). A code of 0 is success.
#include "components/errors/modSoundErrDesc.h"

#include <QString>
#include <cstdint>
#include <utility>

namespace clipwren {

struct Failure {
    Failure() = default;
    Failure(int32_t code, QString detail = QString()) : code(code), detail(std::move(detail)) {}

    int32_t code = err::Ok;
    QString detail;

    bool failed() const { return code != err::Ok; }
};

}  // namespace clipwren
