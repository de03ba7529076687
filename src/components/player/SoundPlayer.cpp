#include "components/player/SoundPlayer.h"

#include "components/errors/modSoundErrDesc.h"

namespace clipwren {

// Placeholder until playback lands: start-up works, sound operations refuse.
struct SoundPlayer::Engine {
    bool started = false;
};

SoundPlayer::SoundPlayer(QObject* parent) : QObject(parent), engine_(std::make_unique<Engine>()) {}
SoundPlayer::~SoundPlayer() = default;

int32_t SoundPlayer::StartUp(int16_t players, QWidget*, int16_t, int16_t, int16_t, int16_t) {
    if (players != 1) return err::ParameterOutOfRange;
    if (engine_->started) return err::AlreadyInitialized;
    engine_->started = true;
    return err::Ok;
}
PlayerOptionSet& SoundPlayer::PlayerOptions() { return options_; }
LevelMeterSet& SoundPlayer::LevelMeters() { return meters_; }
int32_t PlayerOptionSet::OutputDevice(int16_t player, int32_t) { return player == 0 ? err::Ok : err::InvalidPlayer; }
int32_t PlayerOptionSet::LevelEvents(int16_t player, int32_t) { return player == 0 ? err::Ok : err::InvalidPlayer; }

int32_t SoundPlayer::OpenFile(int16_t, const QString&) { return err::Unsupported; }
int32_t SoundPlayer::Length(int16_t) const { return 0; }
QString SoundPlayer::FileName(int16_t) const { return QString(); }
int32_t SoundPlayer::State(int16_t) const { return Stopped; }
int32_t SoundPlayer::Position(int16_t) const { return 0; }
int32_t SoundPlayer::Play(int16_t) { return err::NoSoundLoaded; }
int32_t SoundPlayer::Pause(int16_t) { return err::NoSoundLoaded; }
int32_t SoundPlayer::Stop(int16_t) { return err::NoSoundLoaded; }
int32_t SoundPlayer::PlayRange(int16_t, int32_t, int32_t) { return err::NoSoundLoaded; }
int32_t SoundPlayer::Seek(int16_t, int32_t) { return err::NoSoundLoaded; }
int32_t SoundPlayer::SetTempo(int16_t, float) { return err::Unsupported; }

}  // namespace clipwren
