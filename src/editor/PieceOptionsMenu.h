#pragma once
// The position slider's context menu: the fades of the marked piece and its loudness
// normalization, as "Play marked" plays it and "Save selection" saves it. The choices
// are kept in the settings store, beside the output folder.
#include <QMenu>

#include "components/processing/PieceShaping.h"
#include "core/SettingsStore.h"

namespace clipwren {

class PieceOptionsMenu : public QMenu {
    Q_OBJECT
public:
    // Starts with the stored choices; `settings` must outlive the menu.
    PieceOptionsMenu(SettingsStore& settings, QWidget* parent);
    const processing::Shaping& shaping() const { return shaping_; }

signals:
    void shapingChanged(const clipwren::processing::Shaping& shaping);

private:
    void addFadeChoices(const QString& title, double processing::Fades::*fade);
    void choose(const processing::Shaping& shaping);

    SettingsStore& settings_;
    processing::Shaping shaping_;
    double targetLufs_;
};

}  // namespace clipwren
