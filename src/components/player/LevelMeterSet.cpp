#include "components/player/LevelMeterSet.h"

#include "components/errors/modSoundErrDesc.h"
#include "components/player/LevelMeterWidget.h"

namespace clipwren {

LevelMeterSet::LevelMeterSet() = default;

// The meters are children of their host window, which deletes them with itself; a
// window that outlives the set loses its meters too.
LevelMeterSet::~LevelMeterSet() {
    for (auto& [id, widget] : meters_)
        if (widget) widget->deleteLater();
}

int32_t LevelMeterSet::CreateMeter(QWidget* window, int32_t left, int32_t top, int32_t width, int32_t height) {
    if (!window || width <= 0 || height <= 0) return err::ParameterOutOfRange;
    auto* widget = new LevelMeterWidget(window);
    widget->setGeometry(left, top, width, height);
    widget->raise();
    widget->show();
    const int32_t id = nextId_++;
    meters_[id] = widget;
    return id;
}

LevelMeterWidget* LevelMeterSet::meter(int32_t meterId) const {
    const auto found = meters_.find(meterId);
    return found == meters_.end() ? nullptr : found->second.data();
}

int32_t LevelMeterSet::SetMeterRange(int32_t meterId, int32_t minimum, int32_t maximum) {
    LevelMeterWidget* widget = meter(meterId);
    if (!widget || minimum >= maximum) return err::ParameterOutOfRange;
    widget->setRange(minimum, maximum);
    return err::Ok;
}

int32_t LevelMeterSet::GetMeterLook(int32_t meterId, MeterLook* look) const {
    const LevelMeterWidget* widget = meter(meterId);
    if (!widget || !look) return err::ParameterOutOfRange;
    *look = widget->look();
    return err::Ok;
}

int32_t LevelMeterSet::SetMeterLook(int32_t meterId, const MeterLook* look) {
    LevelMeterWidget* widget = meter(meterId);
    if (!widget || !look) return err::ParameterOutOfRange;
    widget->setLook(*look);
    return err::Ok;
}

int32_t LevelMeterSet::ShowLevel(int32_t meterId, int32_t level) {
    LevelMeterWidget* widget = meter(meterId);
    if (!widget) return err::ParameterOutOfRange;
    widget->showLevel(level);
    return err::Ok;
}

}  // namespace clipwren
