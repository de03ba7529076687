#pragma once
// The one way a step reports a failure: the component's error code, whose text
// GetErrorDescription gives the user, and where a file had a part in it a detail line
// with the file and the system's (or the decoder's) reason ("/music/ring.mp3: Permission
// denied"). A code of 0 is success.
#include "components/errors/modSoundErrDesc.h"

#include <QString>
#include <cstdint>
#include <optional>
#include <utility>

namespace clipwren {

struct Failure {
    Failure() = default;
    Failure(int32_t code, QString detail = QString()) : code(code), detail(std::move(detail)) {}

    int32_t code = err::Ok;
    QString detail;

    bool failed() const { return code != err::Ok; }
};

// A value, or the failure that kept it from being made.
template <typename T>
class Result {
public:
    Result(T value) : value_(std::move(value)) {}
    Result(Failure failure) : failure_(std::move(failure)) {}

    explicit operator bool() const { return value_.has_value(); }
    T& operator*() { return *value_; }
    const T& operator*() const { return *value_; }
    T* operator->() { return &*value_; }
    const T* operator->() const { return &*value_; }
    const Failure& failure() const { return failure_; }

private:
    std::optional<T> value_;
    Failure failure_;
};

}  // namespace clipwren
