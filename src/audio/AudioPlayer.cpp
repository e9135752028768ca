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

} // namespace tamberlo
