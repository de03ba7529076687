#include "components/player/LevelMeterSet.h"

#include "components/errors/modSoundErrDesc.h"

namespace clipwren {

// Placeholder until the meters land.
class LevelMeterWidget : public QWidget {};

LevelMeterSet::LevelMeterSet() = default;
LevelMeterSet::~LevelMeterSet() = default;
int32_t LevelMeterSet::CreateMeter(QWidget*, int32_t, int32_t, int32_t, int32_t) { return err::Unsupported; }
int32_t LevelMeterSet::SetMeterRange(int32_t, int32_t, int32_t) { return err::Unsupported; }
int32_t LevelMeterSet::GetMeterLook(int32_t, MeterLook*) const { return err::Unsupported; }
int32_t LevelMeterSet::SetMeterLook(int32_t, const MeterLook*) { return err::Unsupported; }
int32_t LevelMeterSet::ShowLevel(int32_t, int32_t) { return err::Unsupported; }
LevelMeterWidget* LevelMeterSet::meter(int32_t) const { return nullptr; }

}  // namespace clipwren
