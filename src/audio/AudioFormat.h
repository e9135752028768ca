#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

namespace tamberlo {

// One element the media backend needs to play a file: a container reader or a decoder, what
// it takes in (as a GStreamer caps description), and the Debian package that normally
// provides it.
struct DecodeStep {
    enum Kind { Demuxer, Decoder };
    Kind kind = Decoder;
    QString caps;
    QString package;
};

// What an audio file holds, read from its own bytes rather than from its name.
struct AudioFormat {
    QString container; // "WAV", "MP4", "Ogg"; empty for a bare stream (MP3, FLAC, ADTS AAC)
    QString codec;     // "IMA ADPCM", "GSM 6.10", "AAC", "PCM", ...
    // The container's reader first, then the codec's decoder; PCM needs no decoder.
    std::vector<DecodeStep> steps;
    // The exact number of samples per channel and the sample rate, when the file states them
    // (a WAV file's "fact" chunk); 0 otherwise.
    std::int64_t samples = 0;
    int sampleRate = 0;
    // For WAV files: the channels, the block size, and where the sound data lies.
    int channels = 0;
    int blockAlign = 0;
    std::int64_t dataOffset = 0;
    std::int64_t dataBytes = 0;
    // A bare MPEG audio stream (MP3 and its layer I/II kin), and whether it starts with a VBR
    // header frame ("Xing", "Info", "VBRI") that states its length.
    bool mpegStream = false;
    bool mpegVbrHeader = false;
    // A WAV file whose sound data has an odd number of bytes and whose last byte is the pad
    // byte that follows it. (GStreamer 1.22 looks for another chunk header there, finds the
    // end of the file, and plays nothing.)
    bool endsInPadByte = false;

    // The format as people name it: "IMA ADPCM WAV", "AAC MP4", "MP3".
    QString name() const;
};

// Nothing when the file cannot be read or its bytes are not a format known here.
std::optional<AudioFormat> identifyAudioFile(const QString& path);
// The same for a file's bytes held in memory.
std::optional<AudioFormat> identifyAudioData(const QByteArray& bytes);

// Debian packages of the GStreamer plugins, as the steps name them.
namespace gstpackage {
inline constexpr char base[] = "gstreamer1.0-plugins-base";
inline constexpr char good[] = "gstreamer1.0-plugins-good";
inline constexpr char bad[] = "gstreamer1.0-plugins-bad";
inline constexpr char ugly[] = "gstreamer1.0-plugins-ugly";
inline constexpr char libav[] = "gstreamer1.0-libav";
} // namespace gstpackage

} // namespace tamberlo
