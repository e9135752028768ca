#include "chip/ChipReply.h"

#include "chip/Catalogue.h"
#include "codec/HexText.h"

#include <QRegularExpression>

namespace tamberlo {

std::optional<std::uint16_t> ChipStatus::row() const {
    if (!high)
        return std::nullopt;
    return static_cast<std::uint16_t>((*high << 3) | (low >> Sr0::RowShift));
}

QStringList ChipStatus::flagNames() const {
    QStringList names;
    if (refused())
        names << QStringLiteral("CMD_ERR");
    if (full())
        names << QStringLiteral("FULL");
    if (poweredUp())
        names << QStringLiteral("PU");
    if (endOfMessage())
        names << QStringLiteral("EOM");
    if (interrupt())
        names << QStringLiteral("INT");
    return names;
}

QString CurrentAddress::activity() const {
    if (recording())
        return QStringLiteral("recording");
    if (playing())
        return QStringLiteral("playing");
    if (erasing())
        return QStringLiteral("erasing");
    return ready() ? QStringLiteral("ready") : QStringLiteral("not ready");
}

std::uint8_t replyLength(std::uint8_t opcode) {
    for (const CommandRow& r : CommandCatalogue) {
        if (r.opcode == opcode)
            return r.replyBytes.value_or(0);
    }
    return 0;
}

QString commandName(std::uint8_t opcode) {
    if (opcode == Opcode::CurrentAddress)
        return QStringLiteral("current address");
    for (const CommandRow& r : CommandCatalogue) {
        if (r.opcode == opcode && !r.mnemonic.empty())
            return QString::fromLatin1(r.mnemonic.data(),
                                       static_cast<qsizetype>(r.mnemonic.size()));
    }
    return hexByte(opcode);
}

DecodedReply decodeReply(std::uint8_t opcode, std::span<const std::uint8_t> reply) {
    DecodedReply decoded;
    const auto statusOf = [&](std::size_t bytes) {
        ChipStatus status;
        status.low = reply[0];
        if (bytes >= 2)
            status.high = reply[1];
        return status;
    };
    switch (opcode) {
    case Opcode::STOP:
    case Opcode::REC:
        if (!reply.empty())
            decoded.status = statusOf(1);
        break;
    case Opcode::RD_PLAY_PTR:
    case Opcode::RD_REC_PTR:
        if (reply.size() >= 2)
            decoded.status = statusOf(2);
        if (reply.size() >= 4)
            decoded.pointer = rowFromBytes(reply[2], reply[3]);
        break;
    case Opcode::DEVID:
        if (reply.size() >= 2)
            decoded.status = statusOf(2);
        if (reply.size() >= 3) {
            decoded.deviceId = reply[2];
            decoded.model = findChipModel(reply[2]);
        }
        break;
    case Opcode::CurrentAddress:
        if (reply.size() >= 3)
            decoded.address = CurrentAddress{rowFromBytes(reply[0], reply[1]), reply[2]};
        break;
    case Opcode::SET_PLAY:
    case Opcode::SET_REC:
    case Opcode::SET_ERASE:
        if (reply.size() >= 2)
            decoded.status = statusOf(2);
        break;
    default:
        // A bridge that answers every command sends SR0 low, SR0 high.
        if (reply.size() >= 2)
            decoded.status = statusOf(2);
        break;
    }
    return decoded;
}

std::vector<std::uint8_t> singleFrame(std::uint8_t opcode) {
    return {opcode};
}

std::vector<std::uint8_t> rangeFrame(std::uint8_t opcode, std::uint16_t start, std::uint16_t end) {
    return {opcode, static_cast<std::uint8_t>(start >> 8), static_cast<std::uint8_t>(start & 0xFF),
            static_cast<std::uint8_t>(end >> 8), static_cast<std::uint8_t>(end & 0xFF)};
}

std::optional<std::uint16_t> parseRow(const QString& text, const ChipModel* model, QString* why) {
    static const QRegularExpression plain(QStringLiteral("^(?:0[xX])?([0-9A-Fa-f]{1,4})$"));
    static const QRegularExpression panel(QStringLiteral("^([0-9A-Fa-f]{2}) ([0-9A-Fa-f]{2})$"));
    const auto fail = [&](const QString& reason) -> std::optional<std::uint16_t> {
        if (why)
            *why = reason;
        return std::nullopt;
    };
    unsigned value = 0;
    if (const QRegularExpressionMatch m = panel.match(text); m.hasMatch()) {
        value = (m.captured(1).toUInt(nullptr, 16) << 8) | m.captured(2).toUInt(nullptr, 16);
    } else if (const QRegularExpressionMatch p = plain.match(text); p.hasMatch()) {
        value = p.captured(1).toUInt(nullptr, 16);
    } else {
        return fail(
            QStringLiteral("'%1' is not an address (write 0x1A0, 1A0 or \"01 A0\")").arg(text));
    }
    if (value > LastRowOfAny)
        return fail(QStringLiteral("'%1' is past the last row any chip has (%2)")
                        .arg(text, rowText(LastRowOfAny)));
    if (model && value > model->lastRow)
        return fail(QStringLiteral("'%1' is past the last row of the %2 (%3)")
                        .arg(text, model->nameText(), rowText(model->lastRow)));
    return static_cast<std::uint16_t>(value);
}

QString rowText(std::uint16_t row) {
    return QStringLiteral("0x%1")
        .arg(row, 3, 16, QLatin1Char('0'))
        .toUpper()
        .replace(QLatin1String("0X"), QLatin1String("0x"));
}

} // namespace tamberlo
