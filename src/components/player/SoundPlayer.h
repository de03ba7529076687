#pragma once
// The player component: plays a sound file with position, seeking, tempo change
// (pitch kept) and level meters. Called from the UI thread; its events arrive
// through the event loop of the thread that owns it. Its sound goes to outputs of
// the factory it is given; where none opens it plays silently in real time.
#include <QObject>
#include <QString>
#include <cstdint>
#include <memory>

#include "components/player/AudioOutput.h"
#include "components/player/LevelMeterSet.h"
#include "components/processing/PieceShaping.h"

class QWidget;

namespace clipwren {

class SoundPlayer;

// Per-player options.
class PlayerOptionSet {
public:
    explicit PlayerOptionSet(SoundPlayer& player) : player_(player) {}
    // First operation: the output device of a player; 0 is the system's default device.
    int32_t OutputDevice(int16_t player, int32_t device);
    // Second operation: LevelsChanged events of a player on (1) or off (0).
    int32_t LevelEvents(int16_t player, int32_t enabled);

private:
    SoundPlayer& player_;
};

class SoundPlayer : public QObject {
    Q_OBJECT
public:
    enum PlayState : int32_t { Stopped = 0, Playing = 1, Paused = 2 };

    // outputs must outlive the player.
    explicit SoundPlayer(player::AudioOutputFactory& outputs, QObject* parent = nullptr);
    ~SoundPlayer() override;

    // Readies the player system for `players` players (this program uses one, index 0).
    int32_t StartUp(int16_t players, QWidget* window, int16_t, int16_t, int16_t, int16_t);
    PlayerOptionSet& PlayerOptions();
    LevelMeterSet& LevelMeters();

    // Loads a file; on failure the player is left empty and a negative code is returned.
    int32_t OpenFile(int16_t player, const QString& path);
    // Where the last OpenFile failed on its file: the file and why it is no sound, as
    // "path: reason"; empty after a load that worked or failed for another reason.
    const QString& LastErrorDetail() const;
    // Length in milliseconds; 0 when nothing usable is loaded, negative for an invalid player.
    int32_t Length(int16_t player) const;
    QString FileName(int16_t player) const;
    int32_t State(int16_t player) const;
    // Position of what is being heard, in the source's milliseconds.
    int32_t Position(int16_t player) const;
    int32_t Play(int16_t player);
    int32_t Pause(int16_t player);
    int32_t Stop(int16_t player);
    int32_t PlayRange(int16_t player, int32_t beginMs, int32_t endMs);
    int32_t Seek(int16_t player, int32_t positionMs);
    // Tempo change in percent, -60 to +60; 0 is the normal tempo. The pitch is kept.
    int32_t SetTempo(int16_t player, float changePercent);
    // A range played by PlayRange starts again at its begin when it reaches its end, with
    // no gap, until Stop (true); or plays once (false). Takes effect at once.
    int32_t SetRangeLooping(int16_t player, bool looping);
    // The fades and the loudness normalization a range played by PlayRange goes through,
    // as a saved piece does; from the next PlayRange on. Playing the whole sound is untouched.
    int32_t SetRangeShaping(int16_t player, const processing::Shaping& shaping);

signals:
    // Peak levels on 0..32767 of what is being heard, about every 40 ms while playing;
    // one event with 0, 0 when playback stops or pauses.
    void LevelsChanged(qint16 player, qint16 left, qint16 right);
    // The sound device could not be opened or went away, so the player plays silently
    // (true); or a device works again (false). Playing tries the device again.
    void PlayingSilentlyChanged(qint16 player, bool silently);

private:
    friend class PlayerOptionSet;
    struct Engine;
    std::unique_ptr<Engine> engine_;
    PlayerOptionSet options_{*this};
    LevelMeterSet meters_;
};

}  // namespace clipwren
