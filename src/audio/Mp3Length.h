#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <optional>

namespace tamberlo {

// The playing time of an MPEG audio file (MP3 and its layer I/II kin) by counting its frames:
// the frames' samples over their sample rate. ID3v2 tags in front, a trailing ID3v1 tag and
// a VBR header frame ("Xing", "Info", "VBRI") are not counted. Nothing when the data does
// not start, after any tag, with two consecutive MPEG audio frames.
//
// The media backend is asked first; this is for the files whose length it only learns by
// playing them to the end (low-rate MP3 without a VBR header, as encoders make for voice).
std::optional<std::int64_t> mpegAudioLengthMs(const QByteArray& data);
std::optional<std::int64_t> mpegAudioFileLengthMs(const QString& path);

} // namespace tamberlo
