#pragma once

// The body of the audio format fuzz target, shared with the property test in tests/reliability.
//
// An input is the start of an audio file (or the whole of a short one). identifyAudioData()
// must give the same answer twice, and what it names must agree with the bytes:
//  - the format's container and codec are among those it knows, its steps a container's
//    reader (if any) before at most one decoder, each with caps and a Debian package;
//  - a WAV file starts RIFF/RF64 ... WAVE, an Ogg one OggS, an MP4 one has "ftyp" at 4, FLAC
//    without a container starts fLaC (or is an Ogg stream); only WAV files carry channels,
//    block size and the place of their sound data, which lies within the bytes;
//  - an MPEG stream's VBR header is only named for an MPEG stream;
//  - fewer than 12 bytes are no format.
//
// checkAudioFormatInput() returns an empty string when everything holds, otherwise what
// failed.

#include "audio/AudioFormat.h"

#include <QByteArray>
#include <QStringList>
#include <cstdint>
#include <string>

namespace tamberlo::fuzz {

inline bool sameFormats(const std::optional<AudioFormat>& a, const std::optional<AudioFormat>& b) {
    if (a.has_value() != b.has_value())
        return false;
    if (!a)
        return true;
    if (a->steps.size() != b->steps.size())
        return false;
    for (std::size_t i = 0; i < a->steps.size(); ++i) {
        if (a->steps[i].kind != b->steps[i].kind || a->steps[i].caps != b->steps[i].caps ||
            a->steps[i].package != b->steps[i].package)
            return false;
    }
    return a->container == b->container && a->codec == b->codec && a->samples == b->samples &&
           a->sampleRate == b->sampleRate && a->channels == b->channels &&
           a->blockAlign == b->blockAlign && a->dataOffset == b->dataOffset &&
           a->dataBytes == b->dataBytes && a->mpegStream == b->mpegStream &&
           a->mpegVbrHeader == b->mpegVbrHeader && a->endsInPadByte == b->endsInPadByte;
}

inline std::string checkAudioFormat(const AudioFormat& f, const QByteArray& bytes) {
    static const QStringList containers{QString(),
                                        QStringLiteral("WAV"),
                                        QStringLiteral("MP4"),
                                        QStringLiteral("Ogg"),
                                        QStringLiteral("AIFF"),
                                        QStringLiteral("ASF")};
    static const QStringList packages{gstpackage::base, gstpackage::good, gstpackage::bad,
                                      gstpackage::ugly, gstpackage::libav};
    const std::string name = f.name().toStdString();
    if (!containers.contains(f.container))
        return "unknown container " + f.container.toStdString();
    if (f.codec.isEmpty())
        return "no codec";
    if (f.steps.empty() && !f.container.isEmpty())
        return name + " without a reader";
    int decoders = 0;
    for (std::size_t i = 0; i < f.steps.size(); ++i) {
        const DecodeStep& step = f.steps[i];
        if (step.caps.isEmpty() || !packages.contains(step.package))
            return name + ": step " + std::to_string(i) + " without caps or a known package";
        if (step.kind == DecodeStep::Decoder)
            ++decoders;
        else if (decoders > 0)
            return name + ": a reader after the decoder";
    }
    if (decoders > 1)
        return name + ": more than one decoder";

    const QByteArray magic = bytes.left(4);
    if (f.container == QLatin1String("WAV")) {
        if ((magic != "RIFF" && magic != "RF64") || bytes.mid(8, 4) != "WAVE")
            return "WAV without RIFF ... WAVE";
        if (f.dataOffset < 0 || f.dataBytes < 0 || f.dataOffset + f.dataBytes > bytes.size())
            return "WAV data at " + std::to_string(f.dataOffset) + ", " +
                   std::to_string(f.dataBytes) + " bytes, in " + std::to_string(bytes.size());
        if (f.endsInPadByte &&
            (f.dataBytes % 2 != 1 || f.dataOffset + f.dataBytes + 1 != bytes.size()))
            return "a pad byte that is not the last byte after odd data";
    } else if (f.channels || f.blockAlign || f.dataOffset || f.dataBytes || f.endsInPadByte ||
               f.samples || f.sampleRate) {
        return name + " with WAV details";
    }
    if (f.container == QLatin1String("Ogg") && magic != "OggS")
        return "Ogg without OggS";
    if (f.container == QLatin1String("MP4") && bytes.mid(4, 4) != "ftyp")
        return "MP4 without ftyp";
    if (f.container.isEmpty() && f.codec == QLatin1String("FLAC") && magic != "fLaC")
        return "FLAC without fLaC";
    if (f.mpegVbrHeader && !f.mpegStream)
        return "a VBR header outside an MPEG stream";
    if (f.mpegStream && !f.container.isEmpty())
        return "an MPEG stream in a container";
    return {};
}

inline std::string checkAudioFormatInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const std::optional<AudioFormat> format = identifyAudioData(bytes);
    if (!sameFormats(format, identifyAudioData(bytes)))
        return "two readings of the same bytes differ";
    if (format && size < 12)
        return "a format from fewer than 12 bytes";
    return format ? checkAudioFormat(*format, bytes) : std::string();
}

} // namespace tamberlo::fuzz
