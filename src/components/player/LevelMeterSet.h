#pragma once
// The player's level meters: bars the player draws over rectangles of a host window.
#include <QPointer>
#include <QWidget>
#include <cstddef>
#include <cstdint>
#include <map>

namespace clipwren {

// The 28-byte record through which a meter takes its look, exchanged by address.
// Little-endian, no padding: its layout is part of the component's interface.
#pragma pack(push, 1)
struct MeterLook {
    int32_t Style;        // 0: segmented bar, 1: smooth bar
    int16_t PeakHold;     // 0: no peak marker, 1: show the held peak
    int16_t SegmentGap;   // pixels between segments of the segmented style
    int32_t PeakHoldMs;   // how long a held peak stays
    uint32_t LowColor;    // 0x00BBGGRR: colour of the bar's low end
    uint32_t HighColor;   // 0x00BBGGRR: colour of the bar's high end
    uint32_t BackColor;   // 0x00BBGGRR: colour of the empty part
    int32_t DecayMs;      // time the bar takes to fall from full scale to zero
};
#pragma pack(pop)
static_assert(sizeof(MeterLook) == 28);
static_assert(offsetof(MeterLook, PeakHold) == 4);
static_assert(offsetof(MeterLook, SegmentGap) == 6);
static_assert(offsetof(MeterLook, PeakHoldMs) == 8);
static_assert(offsetof(MeterLook, LowColor) == 12);
static_assert(offsetof(MeterLook, HighColor) == 16);
static_assert(offsetof(MeterLook, BackColor) == 20);
static_assert(offsetof(MeterLook, DecayMs) == 24);

class LevelMeterWidget;

class LevelMeterSet {
public:
    LevelMeterSet();
    ~LevelMeterSet();
    // A new meter drawn in window over (left, top, width, height) pixels; returns its id (> 0),
    // or a negative error code.
    int32_t CreateMeter(QWidget* window, int32_t left, int32_t top, int32_t width, int32_t height);
    int32_t SetMeterRange(int32_t meterId, int32_t minimum, int32_t maximum);
    int32_t GetMeterLook(int32_t meterId, MeterLook* look) const;
    int32_t SetMeterLook(int32_t meterId, const MeterLook* look);
    int32_t ShowLevel(int32_t meterId, int32_t level);

private:
    // The widget that draws a meter, or nullptr for an unknown id.
    LevelMeterWidget* meter(int32_t meterId) const;

    std::map<int32_t, QPointer<LevelMeterWidget>> meters_;
    int32_t nextId_ = 1;
};

}  // namespace clipwren
