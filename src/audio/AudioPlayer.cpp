#include "audio/AudioPlayer.h"

namespace tamberlo {

QString commandWord(PlayerCommand command) {
    switch (command) {
    case PlayerCommand::None:
        return {};
    case PlayerCommand::close:
        return QStringLiteral("close");
    case PlayerCommand::Close:
        return QStringLiteral("Close");
    case PlayerCommand::Open:
        return QStringLiteral("Open");
    case PlayerCommand::Play:
        return QStringLiteral("Play");
    case PlayerCommand::Pause:
        return QStringLiteral("Pause");
    case PlayerCommand::Stop:
        return QStringLiteral("Stop");
    }
    return {};
}

void openHeld(AudioPlayer& player, const QString& fileName) {
    player.command(PlayerCommand::close);
    player.setUpdateInterval(0);
    player.setWait(true);
    player.setFileName(fileName);
    player.command(PlayerCommand::Stop);
    player.command(PlayerCommand::Open);
    player.command(PlayerCommand::Play);
    player.command(PlayerCommand::Pause);
}

} // namespace tamberlo
