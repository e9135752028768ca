#pragma once

#include <QString>
#include <cstdint>
#include <span>
#include <vector>

namespace tamberlo {

// Hex text: the form in which the operator types chip addresses ("00 10") and in which
// reply bytes are shown ("12 34 ", two upper-case digits and one space per byte).
//
// None of these functions reports an error; the parser skips what it does not
// understand and leaves any checking to its callers.

// Parses an address text into HexBytes and returns the number of bytes completed.
//
// HexBytes is re-created with StringTemp.size() + 2 zero elements (7 for "00 10") and
// filled from index 0. A space opens a byte group (a leading space is implied), a group's
// second digit completes its byte, a lone digit followed by a space becomes the byte's
// value, and further digits of a group are dropped. Only the space and the digits 0-9,
// A-F, a-f mean anything; every other character, including any character outside ASCII
// (Chinese, full-width), is skipped. Any text length is safe: the array grows with the
// text, and the returned count saturates at 255.
std::uint8_t StrToHex(const QString& StringTemp, std::vector<std::uint8_t>& HexBytes);

// All bytes of HexData as hex text, 3 characters per byte; empty for no bytes.
QString HexToString(std::span<const std::uint8_t> HexData);

// The character code of the hex digit of a half-byte value, as decimal text: 0 -> "48",
// 10 -> "65", 15 -> "70". A value of 16 or more is its own code (200 -> "200").
QString FindChar(std::uint8_t ByteTempp);

// Hex text of LenCnt bytes of RinByte starting at StartCnt: always 3 * LenCnt characters.
// Positions past the end of RinByte are never read; they show as "00 ".
QString MyRinByteToStr(std::span<const std::uint8_t> RinByte, std::uint8_t StartCnt,
                       std::uint8_t LenCnt);

// A byte as "0x09" and bytes as "0x65 0x0C 0x4A": HexToString's digits with the C prefix, as
// the command line and the chip client's messages name opcodes and frames.
QString hexByte(std::uint8_t byte);
QString hexBytes(std::span<const std::uint8_t> bytes);

} // namespace tamberlo
