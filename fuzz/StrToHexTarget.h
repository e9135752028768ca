#pragma once

// The body of the StrToHex fuzz target, shared with the property test in tests/reliability so
// that libFuzzer and ctest run the same checks.
//
// An input is used three ways:
//  1. all of it as UTF-8 text and as Latin-1 text, through StrToHex, compared with a second,
//     independent reading of the address-text rules (groups between spaces) and with the
//     bounds every caller relies on;
//  2. all of it as bytes: shown as hex text and parsed back, it gives the same bytes;
//  3. as two address texts typed into the boxes of one range command, which is then clicked:
//     the length rule decides between the "数据格式非法" box, silence, and a five-byte frame
//     whose address bytes are those of the texts.
//
// checkStrToHexInput() returns an empty string when everything holds, otherwise what failed.

#include "FuzzRig.h"

#include <QLineEdit>
#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tamberlo::fuzz {

struct ParsedAddress {
    std::vector<std::uint8_t> bytes; // what HexBytes must hold
    std::size_t completed = 0;       // bytes completed (before the 255 cap)
    std::size_t hexDigits = 0;       // ASCII hex digits in the text
};

// The address-text rules read as groups: the text with a space in front, every character
// other than a space or an ASCII hex digit taken out; each run of digits is a group. A group
// followed by a space completes a byte: two or more digits give the first two as the byte, a
// lone digit gives its own value. The last group, with no space after it, completes a byte
// only with two or more digits; a lone digit stays behind as digit x 16, not counted.
inline ParsedAddress readAddressText(const QString& text) {
    ParsedAddress parsed;
    parsed.bytes.assign(static_cast<std::size_t>(text.size()) + 2, 0);
    const auto value = [](char16_t c) -> int {
        if (c >= u'0' && c <= u'9')
            return c - u'0';
        if (c >= u'A' && c <= u'F')
            return c - u'A' + 10;
        if (c >= u'a' && c <= u'f')
            return c - u'a' + 10;
        return -1;
    };
    std::u16string kept = u" ";
    for (const QChar ch : text) {
        const char16_t c = ch.unicode();
        if (c == u' ' || value(c) >= 0)
            kept += c;
        if (value(c) >= 0)
            ++parsed.hexDigits;
    }
    std::size_t i = 0;
    std::size_t k = 0;
    while (i < kept.size()) {
        if (kept[i] == u' ') {
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end < kept.size() && kept[end] != u' ')
            ++end;
        const std::size_t digits = end - i;
        const bool closed = end < kept.size();
        if (digits >= 2) {
            parsed.bytes[k++] = static_cast<std::uint8_t>(value(kept[i]) * 16 + value(kept[i + 1]));
        } else if (closed) {
            parsed.bytes[k++] = static_cast<std::uint8_t>(value(kept[i]));
        } else {
            parsed.bytes[k] = static_cast<std::uint8_t>(value(kept[i]) * 16);
        }
        i = end;
    }
    parsed.completed = k;
    return parsed;
}

// StrToHex on one text against readAddressText and the bounds.
inline std::string checkStrToHexText(const QString& text) {
    std::vector<std::uint8_t> HexBytes{1, 2, 3}; // left over from an earlier call
    const std::uint8_t count = StrToHex(text, HexBytes);
    const ParsedAddress expected = readAddressText(text);
    const auto length = static_cast<std::size_t>(text.size());

    if (HexBytes.size() != length + 2)
        return "HexBytes has " + std::to_string(HexBytes.size()) + " elements for a text of " +
               std::to_string(length) + " characters";
    if (count != std::min<std::size_t>(expected.completed, 255))
        return "count " + std::to_string(count) + ", expected " +
               std::to_string(expected.completed) + " for " + show(text);
    if (count > expected.hexDigits)
        return "count " + std::to_string(count) + " above the " +
               std::to_string(expected.hexDigits) + " hex digits of " + show(text);
    if (count > (length + 1) / 2)
        return "count " + std::to_string(count) + " above what " + std::to_string(length) +
               " characters can hold";
    if (HexBytes != expected.bytes) {
        std::size_t at = 0;
        while (HexBytes[at] == expected.bytes[at])
            ++at;
        return "HexBytes(" + std::to_string(at) + ") = " + std::to_string(HexBytes[at]) +
               ", expected " + std::to_string(expected.bytes[at]) + " for " + show(text);
    }
    return {};
}

// Bytes shown as hex text read back as the same bytes, and the slices of MyRinByteToStr.
inline std::string checkHexRoundTrip(const std::uint8_t* data, std::size_t size) {
    const std::size_t n = std::min<std::size_t>(size, 200);
    const std::span<const std::uint8_t> bytes(data, n);
    const QString text = HexToString(bytes);
    if (static_cast<std::size_t>(text.size()) != 3 * n)
        return "HexToString of " + std::to_string(n) + " bytes has " + std::to_string(text.size()) +
               " characters";
    std::vector<std::uint8_t> HexBytes;
    const std::uint8_t count = StrToHex(text, HexBytes);
    if (count != n || !std::equal(bytes.begin(), bytes.end(), HexBytes.begin()))
        return "hex text " + show(text) + " does not read back as its bytes";
    if (n >= 2) {
        const auto start = static_cast<std::uint8_t>(data[0] % n);
        const auto len = static_cast<std::uint8_t>(1 + data[1] % 8);
        const QString slice = MyRinByteToStr(bytes, start, len);
        if (slice.size() != 3 * len)
            return "MyRinByteToStr gave " + std::to_string(slice.size()) + " characters for " +
                   std::to_string(len) + " bytes";
        for (std::size_t i = 0; i < len; ++i) {
            const std::size_t at = std::size_t{start} + i;
            const std::uint8_t want = at < n ? bytes[at] : 0;
            if (slice.mid(static_cast<qsizetype>(3 * i), 3) !=
                HexToString(std::span<const std::uint8_t>(&want, 1)))
                return "MyRinByteToStr slice byte " + std::to_string(i) + " wrong";
        }
    }
    return {};
}

// Two texts into the boxes of a range command, then its click.
inline std::string checkRangeClick(Rig& rig, const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return {};
    const std::uint8_t flags = data[0];
    const auto* text = reinterpret_cast<const char*>(data + 1);
    const std::size_t textSize = size - 1;
    std::size_t cut = 0;
    while (cut < textSize && text[cut] != 0)
        ++cut;
    const auto decode = [flags](const char* from, std::size_t n) {
        return (flags & 1) ? QString::fromLatin1(from, static_cast<qsizetype>(n))
                           : QString::fromUtf8(from, static_cast<qsizetype>(n));
    };
    QString first = decode(text, cut);
    QString second = cut < textSize ? decode(text + cut + 1, textSize - cut - 1) : QString();
    if (flags & 2)
        std::swap(first, second);
    static constexpr Command rangeCommands[] = {Command::set_play_addr, Command::set_rec_addr,
                                                Command::SetEraseAddrComm};
    const CommandRow& row = tamberlo::row(rangeCommands[(flags >> 2) % 3]);

    rig.reset();
    const auto [startBox, endBox] = rig.rangeBoxes(row.command);
    startBox->setText(first);
    endBox->setText(second);
    // What the handler reads is what the boxes hold.
    const QString start = startBox->text();
    const QString end = endBox->text();
    if (start != first.left(startBox->maxLength()) || end != second.left(endBox->maxLength()))
        return "a box did not take the program's text " + show(first) + " / " + show(second);

    rig.click(row);
    rig.drain();

    // Whatever the texts, the lamp and the reply expectation are those of the command.
    if (rig.litCommandLamps() != 1 || rig.w.lamps.at(*commandLamp(row.command))->isHidden())
        return "the lamp of " + std::string(row.control) + " is not the only one lit";
    if (rig.rx.RecvExpect() != *row.replyBytes)
        return "RecvExpect not set by " + std::string(row.control);

    const qsizetype limit = ChipCommands::AddressChars;
    std::vector<std::uint8_t> sent;
    for (const WireByte& b : rig.port.wire)
        sent.push_back(b.value);
    if (start.size() < limit || end.size() < limit) {
        if (rig.boxes.boxes.size() != 1 ||
            rig.boxes.boxes[0].text != QStringLiteral("数据格式非法") ||
            rig.boxes.boxes[0].title != QStringLiteral("错误") ||
            rig.boxes.boxes[0].icon != MessageIcon::Critical)
            return "a short address text " + show(start) + " / " + show(end) +
                   " did not bring exactly the 数据格式非法 box";
        if (!sent.empty())
            return "a short address text sent " + hexDump(sent.data(), sent.size());
        return {};
    }
    if (!rig.boxes.boxes.isEmpty())
        return "a box for address texts " + show(start) + " / " + show(end) + ": " +
               rig.boxes.boxes[0].text.toStdString();
    if (start.size() > limit || end.size() > limit) {
        if (!sent.empty())
            return "a long address text sent " + hexDump(sent.data(), sent.size());
        return {};
    }
    const ParsedAddress a = readAddressText(start);
    const ParsedAddress b = readAddressText(end);
    const std::vector<std::uint8_t> frame{row.opcode, a.bytes[0], a.bytes[1], b.bytes[0],
                                          b.bytes[1]};
    if (sent != frame)
        return "the frame for " + show(start) + " / " + show(end) + " is " +
               hexDump(sent.data(), sent.size()) + ", expected " +
               hexDump(frame.data(), frame.size());
    return {};
}

inline std::string checkStrToHexInput(Rig& rig, const std::uint8_t* data, std::size_t size) {
    const auto* chars = reinterpret_cast<const char*>(data);
    const auto n = static_cast<qsizetype>(size);
    std::string failure = checkStrToHexText(QString::fromUtf8(chars, n));
    if (failure.empty())
        failure = checkStrToHexText(QString::fromLatin1(chars, n));
    if (failure.empty())
        failure = checkHexRoundTrip(data, size);
    if (failure.empty())
        failure = checkRangeClick(rig, data, size);
    return failure;
}

} // namespace tamberlo::fuzz
