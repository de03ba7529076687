#include "components/errors/modSoundErrDesc.h"

#include <array>

namespace clipwren {

namespace {
// Indexed by code + 120: row 0 is code -120, row 120 is code 0.
constexpr std::array<const char*, 121> kDescriptions = {
    "Invalid filter type",  // -120
    "Invalid filter name",  // -119
    "Incoherent recording session",  // -118
    "The sound file is a headerless RAW PCM",  // -117
    "Undo is not available",  // -116
    "Delayed playback overlaps an existing one",  // -115
    "Player is busy",  // -114
    "Item not found",  // -113
    "The given item already exists",  // -112
    "The sound editor doesn't contain any sound",  // -111
    "The sound editor is busy",  // -110
    "Invalid editor",  // -109
    "The VST effect doesn't contain the given program",  // -108
    "The editor of the VST effect is visible",  // -107
    "The VST effect doesn't contain an editor",  // -106
    "The VST effect is not compatible with the current implementation of the control",  // -105
    "The VST effect still needs to be loaded",  // -104
    "VST effect failure",  // -103
    "Invalid VST identifier",  // -102
    "The DLL containing the VST effect was not found",  // -101
    "An unknown error occurred",  // -100
    "The current product edition cannot create other players",  // -99
    "The current product edition doesn't support this feature: check the Introduction section for a chart comparison of the features available inside each product edition",  // -98
    "Recording session is being performed in memory and in an output file",  // -97
    "Reversed sound is not available",  // -96
    "The identifier is not related to an external custom DSP",  // -95
    "Custom DSP failure",  // -94
    "Invalid custom DSP identifier",  // -93
    "The custom DSP doesn't contain the requested function",  // -92
    "This is not a valid DLL for custom DSP management",  // -91
    "FTP upload impossible because the Windows sockets cannot be initialized",  // -90
    "FTP upload cancelled by the user",  // -89
    "FTP upload failure",  // -88
    "FTP remote directory not found",  // -87
    "FTP connection failed",  // -86
    "Cannot mix sound coming from remote URL",  // -85
    "Encoder failed to start",  // -84
    "Encoder application not available inside the system or, in alternative, parameters passed to the encoder were invalid.",  // -83
    "Invalid export settings",  // -82
    "No selection available",  // -81
    "Invalid position",  // -80
    "Not enough room for containing WAV data",  // -79
    "The Cancel button was pressed after a selection of an ACM codec",  // -78
    "Unsupported ACM codec format",  // -77
    "Equalizer band not available",  // -76
    "Invalid equalizer file",  // -75
    "Reversed sound not available",  // -74
    "The recorder didn't performed any previous recording session in memory",  // -73
    "The sound exported in memory in WAV format is not available",  // -72
    "The provided speakers configuration is invalid",  // -71
    "Cannot assign a stereo sound to a mono speaker",  // -70
    "The current output device doesn't support Rear Center speakers",  // -69
    "The current output device doesn't support Center speakers",  // -68
    "The current output device doesn't support Rear speakers",  // -67
    "Speakers assignment disabled",  // -66
    "Sound waveform still not analyzed",  // -65
    "The recorder is busy",  // -64
    "Internet connection not available",  // -63
    "MCI error accessing CD drive",  // -62
    "Connection to CDDB server failed",  // -61
    "CDDB server not available",  // -60
    "Information about CD not available locally",  // -59
    "Information about CD not available on the CDDB server",  // -58
    "Query to CDDB server failed",  // -57
    "CD cover picture file not available",  // -56
    "URL for CD cover picture not available",  // -55
    "Error opening Sound Activation System silence log file",  // -54
    "The input format is not valid",  // -53
    "Invalid recorder",  // -52
    "The input channel is not valid",  // -51
    "The input device is not valid",  // -50
    "The component is still not initialized",  // -49
    "The requested information is currently unavailable",  // -48
    "Cannot fade songs whose duration is shorter than the overall fading time",  // -47
    "Cannot fade two players that are already playing: at least one of them must be paused or stopped.",  // -46
    "Cannot use the given playlist for fading because all of the contained songs duration is shorter than the overall fading time",  // -45
    "Cannot fade on player B (probably because no playlist has been loaded)",  // -44
    "Cannot fade on player A (probably because no playlist has been loaded)",  // -43
    "The specified CD drive is busy loading another audio track",  // -42
    "The specified CD track is not an audio track",  // -41
    "The requested CD identification is not available",  // -40
    "The requested CD identification code is invalid",  // -39
    "The requested CD action is invalid",  // -38
    "The specified CD audio track is invalid",  // -37
    "The specified CD drive is not ready",  // -36
    "The specified CD drive is invalid",  // -35
    "The selected trigger doesn't exist",  // -34
    "A trigger with the given identification number already exists",  // -33
    "The fader is not ready: check the Fader.Init method for details",  // -32
    "It's not possible to perform a fade-in/fade-out using a single player",  // -31
    "You are trying to use a visual feedback that still doesn't exists",  // -30
    "The visual feedback you are trying to create already exists",  // -29
    "The given equalizer band is not available",  // -28
    "The Pitch change failed",  // -27
    "The Playback rate change failed",  // -26
    "The Tempo change failed",  // -25
    "Unsupported",  // -24
    "The given song cannot be used for mixing purposes",  // -23
    "The sound card chosen as the output device doesn't have a valid driver",  // -22
    "The last operation failed because not available for the loaded file format",  // -21
    "The last operation failed because no sound was loaded",  // -20
    "The DirectX version is older than version 8",  // -19
    "DirectX effects not available",  // -18
    "The EAX effects are not available on the current sound card",  // -17
    "Connection timeout",  // -16
    "No Internet connection cannot be established",  // -15
    "The control has already been initialized",  // -14
    "Error during Internet stream buffering",  // -13
    "The selected special effect is not available (probably the passed value was out of range)",  // -12
    "The selected mixer index is out of range",  // -11
    "The destination position of a playlist item is invalid (out of range)",  // -10
    "The source position of a playlist item is invalid (out of range)",  // -9
    "A file creation failed (probably attempting to save a playlist file)",  // -8
    "Invalid playlist file",  // -7
    "Invalid sound file",  // -6
    "The sound card chosen as the output device is not a compatible sound card",  // -5
    "Not used by this control",  // -4
    "The value of one of the parameters passed to the method was out of the available range of values",  // -3
    "Not enough memory",  // -2
    "Invalid Player",  // -1
    "No error was generated by the latest method call",  // 0
};
}  // namespace

QString GetErrorDescription(const int32_t& code) {
    if (code < -120 || code > 0) return QString();
    return QString::fromLatin1(kDescriptions[size_t(code + 120)]);
}

}  // namespace clipwren
