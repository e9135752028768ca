#include "support/Fakes.h"

namespace tamberlo::test {

bool FakeSerialPort::open() {
    ++openCalls;
    if (!failOpenWith.isEmpty())
        return false;
    open_ = true;
    threshold_ = 1;
    return true;
}

void FakeSerialPort::write(std::uint8_t byte) {
    written.append(static_cast<char>(byte));
    log.push_back(QStringLiteral("write %1").arg(byte, 2, 16, QLatin1Char('0')).toUpper());
}

std::uint8_t FakeSerialPort::read() {
    if (!arriveDuringDrain.isEmpty()) {
        for (char c : std::as_const(arriveDuringDrain))
            input.push_back(static_cast<std::uint8_t>(c));
        arriveDuringDrain.clear();
    }
    if (input.empty())
        return 0;
    std::uint8_t b = input.front();
    input.pop_front();
    return b;
}

void FakeSerialPort::discardReceiveBuffer() {
    input.clear();
    log.push_back(QStringLiteral("discard-rx"));
}

void FakeSerialPort::discardInput() {
    input.clear();
    log.push_back(QStringLiteral("discard-input"));
}

void FakeSerialPort::inject(const QByteArray& bytes) {
    for (char c : bytes)
        input.push_back(static_cast<std::uint8_t>(c));
    // Like QSerialPort, no second notification while one is being handled: bytes that come in
    // then wait for the next one.
    if (threshold_ > 0 && !input.empty() && !notifying_) {
        notifying_ = true;
        emit communication(CommEvent::BytesReceived);
        notifying_ = false;
    }
}

void FakeAudioPlayer::command(PlayerCommand command) {
    commands.push_back(command);
    last_ = command;
    switch (command) {
    case PlayerCommand::Open:
        open_ = openError.isEmpty();
        modeValue = open_ ? Stopped : NotOpen;
        break;
    case PlayerCommand::close:
    case PlayerCommand::Close:
        open_ = false;
        modeValue = NotOpen;
        break;
    case PlayerCommand::Play:
        if (open_)
            modeValue = Playing;
        break;
    case PlayerCommand::Pause:
        if (open_)
            modeValue = Paused;
        break;
    case PlayerCommand::Stop:
        if (open_)
            modeValue = Stopped;
        break;
    case PlayerCommand::None:
        break;
    }
}

} // namespace tamberlo::test
