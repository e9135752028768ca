#include "codec/HexText.h"

#include <QStringList>
#include <algorithm>

namespace tamberlo {

namespace {

constexpr char16_t Space = u' ';

// Value of a hex digit (either letter case), or -1 for anything else. Only ASCII counts:
// a character outside it is never a digit, whatever its case mapping.
int digitValue(char16_t c) {
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    return -1;
}

enum class ParseState { Idle, ExpectHigh, ExpectLow };

} // namespace

std::uint8_t StrToHex(const QString& StringTemp, std::vector<std::uint8_t>& HexBytes) {
    // The text is read with one space in front of it (that space opens the first group);
    // HexBytes gets indices 0 to the length of that prefixed text.
    const std::size_t prefixedLength = static_cast<std::size_t>(StringTemp.size()) + 1;
    HexBytes.assign(prefixedLength + 1, 0);

    // Every completed byte takes at least two characters of the prefixed text, so k stays
    // below half its length and every index written is inside HexBytes.
    std::size_t k = 0;
    ParseState state = ParseState::Idle;

    const auto step = [&](char16_t c) {
        const int digit = digitValue(c);
        if (c != Space && digit < 0)
            return; // skipped in every state
        switch (state) {
        case ParseState::Idle:
            if (c == Space) {
                HexBytes[k] = 0;
                state = ParseState::ExpectHigh;
            }
            // A digit here is a surplus digit of the last group: dropped.
            break;
        case ParseState::ExpectHigh:
            if (c == Space) {
                HexBytes[k] = 0;
            } else {
                HexBytes[k] = static_cast<std::uint8_t>(digit * 16);
                state = ParseState::ExpectLow;
            }
            break;
        case ParseState::ExpectLow:
            if (c == Space) {
                // A lone digit followed by a space is the byte's value.
                HexBytes[k] = static_cast<std::uint8_t>(HexBytes[k] / 16);
                ++k;
                HexBytes[k] = 0;
                state = ParseState::ExpectHigh;
            } else {
                HexBytes[k] = static_cast<std::uint8_t>(HexBytes[k] + digit);
                ++k;
                state = ParseState::Idle;
            }
            break;
        }
    };

    step(Space);
    for (const QChar ch : StringTemp)
        step(ch.unicode());

    return static_cast<std::uint8_t>(std::min<std::size_t>(k, 255));
}

QString FindChar(std::uint8_t ByteTempp) {
    unsigned code = ByteTempp;
    if (ByteTempp <= 9)
        code = ByteTempp + 48u;
    else if (ByteTempp <= 15)
        code = ByteTempp + 55u;
    return QString::number(code);
}

QString HexToString(std::span<const std::uint8_t> HexData) {
    QString text;
    text.reserve(static_cast<qsizetype>(HexData.size() * 3));
    const auto digit = [](unsigned half) {
        return QChar(static_cast<char16_t>(FindChar(static_cast<std::uint8_t>(half)).toUInt()));
    };
    for (const std::uint8_t byte : HexData) {
        text.append(digit(byte / 16u));
        text.append(digit(byte % 16u));
        text.append(QChar(Space));
    }
    return text;
}

QString MyRinByteToStr(std::span<const std::uint8_t> RinByte, std::uint8_t StartCnt,
                       std::uint8_t LenCnt) {
    std::vector<std::uint8_t> slice(LenCnt, 0);
    for (std::size_t i = StartCnt; i < std::size_t{StartCnt} + LenCnt; ++i) {
        if (i < RinByte.size())
            slice[i - StartCnt] = RinByte[i];
    }
    return HexToString(slice);
}

QString hexByte(std::uint8_t byte) {
    const std::uint8_t one[] = {byte};
    return QStringLiteral("0x") + HexToString(one).trimmed();
}

QString hexBytes(std::span<const std::uint8_t> bytes) {
    QStringList parts;
    for (const std::uint8_t byte : bytes)
        parts << hexByte(byte);
    return parts.join(QLatin1Char(' '));
}

} // namespace tamberlo
