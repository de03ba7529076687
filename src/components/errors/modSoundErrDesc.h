#pragma once
// The audio components' error vocabulary: codes 0 to -120 and their texts.
#include <QString>
#include <cstdint>

namespace clipwren {

// The codes this program's components return; the texts are in GetErrorDescription.
namespace err {
constexpr int32_t Ok = 0;
constexpr int32_t InvalidPlayer = -1;
constexpr int32_t NotEnoughMemory = -2;
constexpr int32_t ParameterOutOfRange = -3;
constexpr int32_t InvalidSoundFile = -6;
constexpr int32_t FileCreationFailed = -8;
constexpr int32_t AlreadyInitialized = -14;
constexpr int32_t NoSoundLoaded = -20;
constexpr int32_t NotAvailableForFormat = -21;
constexpr int32_t Unsupported = -24;
constexpr int32_t TempoChangeFailed = -25;
constexpr int32_t InfoUnavailable = -48;
constexpr int32_t NotInitialized = -49;
constexpr int32_t InvalidPosition = -80;
constexpr int32_t NoSelection = -81;
constexpr int32_t InvalidExportSettings = -82;
constexpr int32_t EncoderNotAvailable = -83;
constexpr int32_t EncoderFailedToStart = -84;
constexpr int32_t UnknownError = -100;
constexpr int32_t EditorBusy = -110;
constexpr int32_t EditorEmpty = -111;
}  // namespace err

// Text of a component error code; empty text for a code outside 0..-120.
QString GetErrorDescription(const int32_t& code);

}  // namespace clipwren
