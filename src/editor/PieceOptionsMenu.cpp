#include "editor/PieceOptionsMenu.h"

#include <QActionGroup>
#include <algorithm>

#include "core/OutputLocation.h"

namespace clipwren {

namespace {
const QString kFadeInKey = QStringLiteral("FadeIn");
const QString kFadeOutKey = QStringLiteral("FadeOut");
const QString kNormalizeKey = QStringLiteral("NormalizeLoudness");
const QString kTargetKey = QStringLiteral("LoudnessTarget");
// The lengths offered, in seconds: none, and what ringtones use.
constexpr double kFadeChoices[] = {0, 0.5, 1, 2, 3, 5};

QString section() { return QString::fromLatin1(OutputLocation::kSection); }

double storedNumber(const SettingsStore& store, const QString& key, double fallback, double low, double high) {
    bool ok = false;
    const double value = store.value(section(), key, QString()).toDouble(&ok);
    return ok ? std::clamp(value, low, high) : fallback;
}

QString fadeCaption(double seconds) {
    return seconds == 0 ? QStringLiteral("None") : QStringLiteral("%1 s").arg(seconds);
}
}  // namespace

PieceOptionsMenu::PieceOptionsMenu(SettingsStore& settings, QWidget* parent)
    : QMenu(parent),
      settings_(settings),
      targetLufs_(storedNumber(settings, kTargetKey, processing::kDefaultTargetLufs,
                               processing::kLowestTargetLufs, processing::kHighestTargetLufs)) {
    setObjectName(QStringLiteral("PieceOptionsMenu"));
    shaping_.fades.inSeconds = storedNumber(settings, kFadeInKey, 0, 0, processing::kMaxFadeSeconds);
    shaping_.fades.outSeconds = storedNumber(settings, kFadeOutKey, 0, 0, processing::kMaxFadeSeconds);
    if (settings.value(section(), kNormalizeKey, QString()) == QLatin1String("1")) shaping_.normalizeToLufs = targetLufs_;

    addFadeChoices(QStringLiteral("Fade in"), &processing::Fades::inSeconds);
    addFadeChoices(QStringLiteral("Fade out"), &processing::Fades::outSeconds);
    QAction* normalize = addAction(QStringLiteral("Normalize loudness"));
    normalize->setCheckable(true);
    normalize->setChecked(shaping_.normalizeToLufs.has_value());
    normalize->setToolTip(QStringLiteral("To %1 LUFS, the true peak kept under %2 dBTP")
                              .arg(targetLufs_)
                              .arg(processing::kTruePeakCeilingDbtp));
    connect(normalize, &QAction::toggled, this, [this](bool on) {
        processing::Shaping next = shaping_;
        next.normalizeToLufs = on ? std::optional<double>(targetLufs_) : std::nullopt;
        choose(next);
    });
}

void PieceOptionsMenu::addFadeChoices(const QString& title, double processing::Fades::*fade) {
    QMenu* choices = addMenu(title);
    auto* group = new QActionGroup(choices);
    for (const double seconds : kFadeChoices) {
        QAction* choice = choices->addAction(fadeCaption(seconds));
        choice->setCheckable(true);
        choice->setChecked(shaping_.fades.*fade == seconds);
        group->addAction(choice);
        connect(choice, &QAction::triggered, this, [this, fade, seconds] {
            processing::Shaping next = shaping_;
            next.fades.*fade = seconds;
            choose(next);
        });
    }
}

void PieceOptionsMenu::choose(const processing::Shaping& shaping) {
    if (shaping == shaping_) return;
    shaping_ = shaping;
    settings_.setValue(section(), kFadeInKey, QString::number(shaping_.fades.inSeconds));
    settings_.setValue(section(), kFadeOutKey, QString::number(shaping_.fades.outSeconds));
    settings_.setValue(section(), kNormalizeKey, shaping_.normalizeToLufs ? QStringLiteral("1") : QStringLiteral("0"));
    settings_.setValue(section(), kTargetKey, QString::number(targetLufs_));
    emit shapingChanged(shaping_);
}

}  // namespace clipwren
