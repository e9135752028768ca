#include "plan/QtRecordingAudio.h"

#include "plan/Measure.h"

#include <QFileInfo>

namespace tamberlo::plan {

bool QtRecordingAudio::load(const QString& path, QString* why) {
    const auto reason = [why](const QString& text) {
        if (why)
            *why = text;
        return false;
    };
    if (!QFileInfo(path).isFile())
        return reason(QStringLiteral("no such file"));
    openHeld(player_, path);
    if (!player_.errorText().isEmpty())
        return reason(QStringLiteral("cannot be played: %1").arg(player_.errorText()));
    if (player_.length() <= 0)
        return reason(QStringLiteral("the player cannot tell its length"));
    return true;
}

} // namespace tamberlo::plan
