#include "plan/Measure.h"

#include <QFileInfo>

namespace tamberlo::plan {

MeasuredFile measureFile(const QString& path, AudioPlayer& player) {
    const QFileInfo info(path);
    if (!info.exists())
        return {std::nullopt, QStringLiteral("no such file")};
    if (!info.isFile())
        return {std::nullopt, QStringLiteral("not a file")};
    if (!info.isReadable())
        return {std::nullopt, QStringLiteral("not readable")};
    openHeld(player, path);
    MeasuredFile result;
    if (!player.errorText().isEmpty())
        result.problem = QStringLiteral("cannot be played: %1").arg(player.errorText());
    else if (player.length() <= 0)
        result.problem = QStringLiteral("the player cannot tell its length");
    else
        result.lengthMs = player.length();
    player.command(PlayerCommand::close);
    return result;
}

QList<MeasuredFile> measureFiles(const Plan& plan, AudioPlayer& player) {
    QList<MeasuredFile> files;
    for (const PlanMessage& m : plan.messages)
        files.append(measureFile(m.path, player));
    return files;
}

} // namespace tamberlo::plan
