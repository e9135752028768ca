#include "audio/AudioFormat.h"

#include <QBuffer>
#include <QFile>
#include <QtEndian>

namespace tamberlo {

namespace {

using Step = DecodeStep;

// Bytes in memory read as QFile reads a file: seeking past the end is allowed and reads
// nothing there (QBuffer itself refuses it, with a warning).
class ByteFile : public QBuffer {
public:
    bool seek(qint64 pos) override {
        return pos > size() ? QIODevice::seek(pos) : QBuffer::seek(pos);
    }
};

std::optional<AudioFormat> identifyAudio(QIODevice& file);

quint32 le32(const QByteArray& b, qsizetype at) {
    return at + 4 <= b.size() ? qFromLittleEndian<quint32>(b.constData() + at) : 0;
}
quint16 le16(const QByteArray& b, qsizetype at) {
    return at + 2 <= b.size() ? qFromLittleEndian<quint16>(b.constData() + at) : 0;
}
quint32 be32(const QByteArray& b, qsizetype at) {
    return at + 4 <= b.size() ? qFromBigEndian<quint32>(b.constData() + at) : 0;
}
quint64 be64(const QByteArray& b, qsizetype at) {
    return at + 8 <= b.size() ? qFromBigEndian<quint64>(b.constData() + at) : 0;
}

// --- WAV ---------------------------------------------------------------------------------

// The codecs of the WAVE format tags people meet, with what decodes them.
std::optional<AudioFormat> wavCodec(quint16 tag) {
    AudioFormat f;
    f.container = QStringLiteral("WAV");
    f.steps.push_back({Step::Demuxer, QStringLiteral("audio/x-wav"), gstpackage::good});
    switch (tag) {
    case 0x0001:
        f.codec = QStringLiteral("PCM");
        break;
    case 0x0003:
        f.codec = QStringLiteral("IEEE float");
        break;
    case 0x0006:
        f.codec = QStringLiteral("A-law");
        f.steps.push_back({Step::Decoder, QStringLiteral("audio/x-alaw"), gstpackage::good});
        break;
    case 0x0007:
        f.codec = QStringLiteral("µ-law");
        f.steps.push_back({Step::Decoder, QStringLiteral("audio/x-mulaw"), gstpackage::good});
        break;
    case 0x0002:
        f.codec = QStringLiteral("Microsoft ADPCM");
        f.steps.push_back({Step::Decoder, QStringLiteral("audio/x-adpcm, layout=(string)microsoft"),
                           gstpackage::bad});
        break;
    case 0x0011:
        f.codec = QStringLiteral("IMA ADPCM");
        f.steps.push_back(
            {Step::Decoder, QStringLiteral("audio/x-adpcm, layout=(string)dvi"), gstpackage::bad});
        break;
    case 0x0031:
        f.codec = QStringLiteral("GSM 6.10");
        f.steps.push_back({Step::Decoder, QStringLiteral("audio/ms-gsm"), gstpackage::bad});
        break;
    case 0x0050:
        f.codec = QStringLiteral("MPEG audio");
        f.steps.push_back(
            {Step::Decoder, QStringLiteral("audio/mpeg, mpegversion=(int)1"), gstpackage::good});
        break;
    case 0x0055:
        f.codec = QStringLiteral("MP3");
        f.steps.push_back({Step::Decoder,
                           QStringLiteral("audio/mpeg, mpegversion=(int)1, layer=(int)3"),
                           gstpackage::good});
        break;
    default:
        return std::nullopt;
    }
    return f;
}

std::optional<AudioFormat> identifyWav(QIODevice& file) {
    std::optional<AudioFormat> format;
    qint64 pos = 12;
    // Chunks are walked by their headers only, so a long data chunk costs nothing.
    for (int chunks = 0; chunks < 64 && file.seek(pos); ++chunks) {
        const QByteArray header = file.read(8);
        if (header.size() < 8)
            break;
        const quint32 size = le32(header, 4);
        if (header.startsWith("fmt ")) {
            const QByteArray fmt = file.read(std::min<quint32>(size, 40));
            quint16 tag = le16(fmt, 0);
            if (tag == 0xFFFE && fmt.size() >= 26) // WAVE_FORMAT_EXTENSIBLE: the sub-format
                tag = le16(fmt, 24);
            format = wavCodec(tag);
            if (!format)
                return std::nullopt;
            format->channels = le16(fmt, 2);
            format->sampleRate = static_cast<int>(le32(fmt, 4));
            format->blockAlign = le16(fmt, 12);
        } else if (header.startsWith("fact") && format && format->codec != QLatin1String("PCM") &&
                   format->codec != QLatin1String("IEEE float")) {
            // Compressed data ends in a padded block; the fact chunk counts the real samples.
            format->samples = le32(file.read(4), 0);
        } else if (header.startsWith("data")) {
            if (format) {
                format->dataOffset = pos + 8;
                format->dataBytes = std::min<qint64>(size, file.size() - pos - 8);
            }
            if (format && (size & 1) && pos + 8 + qint64(size) + 1 == file.size())
                format->endsInPadByte = true;
            break; // what follows the sound data does not describe it
        }
        pos += 8 + qint64(size) + (size & 1);
    }
    return format;
}

// --- MPEG audio and ADTS -----------------------------------------------------------------

bool isMpegAudioFrame(const QByteArray& b, qsizetype at) {
    if (at + 4 > b.size())
        return false;
    const auto* p = reinterpret_cast<const unsigned char*>(b.constData() + at);
    const int version = (p[1] >> 3) & 3;
    const int layer = (p[1] >> 1) & 3;
    const int bitrate = p[2] >> 4;
    const int rate = (p[2] >> 2) & 3;
    return p[0] == 0xFF && (p[1] & 0xE0) == 0xE0 && version != 1 && layer != 0 && bitrate != 0 &&
           bitrate != 15 && rate != 3;
}

bool isAdtsFrame(const QByteArray& b, qsizetype at) {
    if (at + 7 > b.size())
        return false;
    const auto* p = reinterpret_cast<const unsigned char*>(b.constData() + at);
    return p[0] == 0xFF && (p[1] & 0xF6) == 0xF0 && ((p[2] >> 2) & 0x0F) < 13;
}

// Skips ID3v2 tags at `pos`; false when the file ends inside one.
bool skipId3v2(QIODevice& file, qint64& pos) {
    for (;;) {
        if (!file.seek(pos))
            return false;
        const QByteArray h = file.read(10);
        if (h.size() < 10 || !h.startsWith("ID3"))
            return true;
        const auto byte = [&h](int i) { return qint64(static_cast<unsigned char>(h[i]) & 0x7F); };
        const qint64 size = (byte(6) << 21) | (byte(7) << 14) | (byte(8) << 7) | byte(9);
        pos += 10 + size + ((h[5] & 0x10) ? 10 : 0);
        if (pos >= file.size())
            return false;
    }
}

std::optional<AudioFormat> identifyMpegOrAdts(QIODevice& file) {
    qint64 pos = 0;
    if (!skipId3v2(file, pos) || !file.seek(pos))
        return std::nullopt;
    const QByteArray head = file.read(256);
    AudioFormat f;
    if (pos > 0)
        f.steps.push_back({Step::Demuxer, QStringLiteral("application/x-id3"), gstpackage::good});
    if (isMpegAudioFrame(head, 0)) {
        const int layer = (static_cast<unsigned char>(head[1]) >> 1) & 3;
        f.codec = layer == 1 ? QStringLiteral("MP3") : QStringLiteral("MPEG audio");
        f.mpegStream = true;
        f.steps.push_back(
            {Step::Decoder,
             QStringLiteral("audio/mpeg, mpegversion=(int)1, layer=(int)%1").arg(4 - layer),
             gstpackage::good});
        // The VBR header sits after the side information, within the first frame's start.
        const QByteArray start = head.left(64);
        f.mpegVbrHeader =
            start.contains("Xing") || start.contains("Info") || start.contains("VBRI");
        return f;
    }
    if (isAdtsFrame(head, 0)) {
        f.codec = QStringLiteral("AAC");
        f.steps.push_back(
            {Step::Decoder, QStringLiteral("audio/mpeg, mpegversion=(int)4"), gstpackage::libav});
        return f;
    }
    return std::nullopt;
}

// --- Ogg ---------------------------------------------------------------------------------

std::optional<AudioFormat> identifyOgg(const QByteArray& head) {
    // The first page holds the first packet of the first stream: its codec's header.
    if (head.size() < 27)
        return std::nullopt;
    const int segments = static_cast<unsigned char>(head[26]);
    const QByteArray packet = head.mid(27 + segments, 16);
    AudioFormat f;
    f.container = QStringLiteral("Ogg");
    f.steps.push_back({Step::Demuxer, QStringLiteral("application/ogg"), gstpackage::base});
    if (packet.startsWith("\x01vorbis")) {
        f.codec = QStringLiteral("Vorbis");
        f.steps.push_back({Step::Decoder, QStringLiteral("audio/x-vorbis"), gstpackage::base});
    } else if (packet.startsWith("OpusHead")) {
        f.codec = QStringLiteral("Opus");
        f.steps.push_back({Step::Decoder, QStringLiteral("audio/x-opus"), gstpackage::base});
    } else if (packet.startsWith("\x7f"
                                 "FLAC")) {
        f.codec = QStringLiteral("FLAC");
        f.steps.push_back({Step::Decoder, QStringLiteral("audio/x-flac"), gstpackage::good});
    } else if (packet.startsWith("Speex   ")) {
        f.codec = QStringLiteral("Speex");
        f.steps.push_back({Step::Decoder, QStringLiteral("audio/x-speex"), gstpackage::good});
    } else {
        return std::nullopt;
    }
    return f;
}

// --- MP4 / M4A ---------------------------------------------------------------------------

// The boxes directly inside `data` (from `from` on), as (type, body) pairs, visited until
// `visit` returns true.
template <typename Visit> bool forEachBox(const QByteArray& data, qsizetype from, Visit visit) {
    qsizetype pos = from;
    while (pos + 8 <= data.size()) {
        qint64 size = be32(data, pos);
        qsizetype header = 8;
        if (size == 1) {
            size = static_cast<qint64>(be64(data, pos + 8));
            header = 16;
        } else if (size == 0) {
            size = data.size() - pos;
        }
        if (size < header || size > data.size() - pos) // (pos + size could overflow)
            return false;
        if (visit(data.mid(pos + 4, 4), data.mid(pos + header, size - header)))
            return true;
        pos += size;
    }
    return false;
}

// The codec of an MPEG-4 "esds" box: its decoder configuration's object type.
std::optional<int> esdsObjectType(const QByteArray& esds) {
    qsizetype pos = 4; // version and flags
    const auto descriptor = [&esds, &pos](int tag) -> bool {
        if (pos >= esds.size() || static_cast<unsigned char>(esds[pos]) != tag)
            return false;
        ++pos;
        for (int i = 0; i < 4 && pos < esds.size(); ++i) // length: 7 bits a byte
            if (!(static_cast<unsigned char>(esds[pos++]) & 0x80))
                break;
        return true;
    };
    if (!descriptor(0x03) || pos + 3 > esds.size())
        return std::nullopt;
    const int flags = static_cast<unsigned char>(esds[pos + 2]);
    pos += 3;
    if (flags & 0x80)
        pos += 2;
    if ((flags & 0x40) && pos < esds.size())
        pos += 1 + static_cast<unsigned char>(esds[pos]);
    if (flags & 0x20)
        pos += 2;
    if (!descriptor(0x04) || pos >= esds.size())
        return std::nullopt;
    return static_cast<unsigned char>(esds[pos]);
}

std::optional<AudioFormat> mp4Codec(const QByteArray& entryType, const QByteArray& entry) {
    AudioFormat f;
    f.container = QStringLiteral("MP4");
    f.steps.push_back({Step::Demuxer, QStringLiteral("video/quicktime"), gstpackage::good});
    if (entryType == "mp4a") {
        const qsizetype at = entry.indexOf("esds");
        const auto type =
            at >= 4 ? esdsObjectType(entry.mid(at + 4, be32(entry, at - 4))) : std::optional<int>();
        if (type == 0x69 || type == 0x6B) {
            f.codec = QStringLiteral("MP3");
            f.steps.push_back({Step::Decoder, QStringLiteral("audio/mpeg, mpegversion=(int)1"),
                               gstpackage::good});
        } else {
            f.codec = QStringLiteral("AAC");
            f.steps.push_back({Step::Decoder,
                               QStringLiteral("audio/mpeg, mpegversion=(int)4, "
                                              "stream-format=(string)raw"),
                               gstpackage::libav});
        }
    } else if (entryType == "alac") {
        f.codec = QStringLiteral("ALAC");
        f.steps.push_back({Step::Decoder, QStringLiteral("audio/x-alac"), gstpackage::libav});
    } else if (entryType == "ac-3") {
        f.codec = QStringLiteral("AC-3");
        f.steps.push_back({Step::Decoder, QStringLiteral("audio/x-ac3"), gstpackage::libav});
    } else if (entryType == "Opus") {
        f.codec = QStringLiteral("Opus");
        f.steps.push_back({Step::Decoder, QStringLiteral("audio/x-opus"), gstpackage::base});
    } else if (entryType == "fLaC") {
        f.codec = QStringLiteral("FLAC");
        f.steps.push_back({Step::Decoder, QStringLiteral("audio/x-flac"), gstpackage::good});
    } else {
        return std::nullopt;
    }
    return f;
}

std::optional<AudioFormat> identifyMp4(QIODevice& file) {
    // The movie box may come before or after the media data; only box headers are read on
    // the way to it.
    constexpr qint64 maxMovieBytes = 64 << 20;
    QByteArray moov;
    for (qint64 pos = 0; pos + 8 <= file.size() && file.seek(pos);) {
        const QByteArray h = file.read(16);
        qint64 size = be32(h, 0);
        qint64 header = 8;
        if (size == 1) {
            size = static_cast<qint64>(be64(h, 8));
            header = 16;
        } else if (size == 0) {
            size = file.size() - pos;
        }
        if (size < header)
            return std::nullopt;
        if (h.mid(4, 4) == "moov") {
            if (size > maxMovieBytes || !file.seek(pos + header))
                return std::nullopt;
            moov = file.read(size - header);
            break;
        }
        if (size > file.size() - pos) // the last box (pos + size could overflow)
            break;
        pos += size;
    }
    // moov > trak > mdia > minf > stbl > stsd: the first sound track's first sample entry.
    std::optional<AudioFormat> format;
    const auto inside = [](const QByteArray& body, const char* type) {
        QByteArray found;
        forEachBox(body, 0, [&](const QByteArray& t, const QByteArray& b) {
            if (t != type)
                return false;
            found = b;
            return true;
        });
        return found;
    };
    forEachBox(moov, 0, [&](const QByteArray& type, const QByteArray& trak) {
        if (type != "trak")
            return false;
        const QByteArray mdia = inside(trak, "mdia");
        const QByteArray hdlr = inside(mdia, "hdlr");
        if (hdlr.mid(8, 4) != "soun")
            return false;
        const QByteArray stsd = inside(inside(inside(mdia, "minf"), "stbl"), "stsd");
        // version, flags, entry count, then the first entry as a box
        forEachBox(stsd, 8, [&](const QByteArray& entryType, const QByteArray& entry) {
            format = mp4Codec(entryType, entry);
            return true;
        });
        return true;
    });
    return format;
}

} // namespace

QString AudioFormat::name() const {
    if (container.isEmpty())
        return codec;
    return codec + QLatin1Char(' ') + container;
}

std::optional<AudioFormat> identifyAudioFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return identifyAudio(file);
}

std::optional<AudioFormat> identifyAudioData(const QByteArray& bytes) {
    ByteFile buffer;
    buffer.setData(bytes);
    if (!buffer.open(QIODevice::ReadOnly))
        return std::nullopt;
    return identifyAudio(buffer);
}

namespace {

std::optional<AudioFormat> identifyAudio(QIODevice& file) {
    const QByteArray head = file.read(4096);
    if (head.size() < 12)
        return std::nullopt;
    const QByteArray magic = head.left(4);
    if ((magic == "RIFF" || magic == "RF64") && head.mid(8, 4) == "WAVE")
        return identifyWav(file);
    if (magic == "fLaC") {
        AudioFormat f;
        f.codec = QStringLiteral("FLAC");
        f.steps.push_back({Step::Decoder, QStringLiteral("audio/x-flac"), gstpackage::good});
        return f;
    }
    if (magic == "OggS")
        return identifyOgg(head);
    if (head.mid(4, 4) == "ftyp")
        return identifyMp4(file);
    if (magic == "FORM" && (head.mid(8, 4) == "AIFF" || head.mid(8, 4) == "AIFC")) {
        AudioFormat f;
        f.container = QStringLiteral("AIFF");
        f.codec = QStringLiteral("PCM");
        f.steps.push_back({Step::Demuxer, QStringLiteral("audio/x-aiff"), gstpackage::bad});
        return f;
    }
    if (head.startsWith(QByteArray::fromHex("3026b2758e66cf11a6d900aa0062ce6c"))) {
        AudioFormat f;
        f.container = QStringLiteral("ASF");
        f.codec = QStringLiteral("WMA");
        f.steps.push_back({Step::Demuxer, QStringLiteral("video/x-ms-asf"), gstpackage::ugly});
        f.steps.push_back({Step::Decoder, QStringLiteral("audio/x-wma"), gstpackage::libav});
        return f;
    }
    return identifyMpegOrAdts(file);
}

} // namespace

} // namespace tamberlo
