#pragma once

#include "audio/AudioFormat.h"

#include <QByteArray>
#include <QFile>
#include <QIODevice>
#include <cstdint>
#include <memory>

namespace tamberlo {

// Decodes one block of IMA ADPCM as WAV files hold it (format tag 0x0011): per channel a
// 4-byte header with the first sample and the step index, then 4-bit codes, low nibble
// first, in groups of 4 bytes per channel. Appends `samplesPerChannel` interleaved 16-bit
// samples (little-endian) to `out`.
void decodeImaAdpcmBlock(const char* block, int blockBytes, int channels, int samplesPerChannel,
                         QByteArray& out);

// Samples per channel in one block of `blockAlign` bytes.
int imaAdpcmSamplesPerBlock(int blockAlign, int channels);

// An IMA ADPCM WAV file read as a 16-bit PCM WAV file, decoded block by block as it is read
// (seeking decodes only the block it lands in). The length is the file's stated sample count
// when it has one.
//
// GStreamer 1.22 takes the data rate of mono IMA ADPCM as twice what it is: it reports half
// the length and stops playing half-way. The player plays such files through this device.
class ImaAdpcmAsPcm : public QIODevice {
public:
    // Null when `format` is not IMA ADPCM in WAV or its numbers do not add up.
    static std::unique_ptr<ImaAdpcmAsPcm> open(const QString& path, const AudioFormat& format);

    bool isSequential() const override { return false; }
    qint64 size() const override { return header_.size() + pcmBytes_; }

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    ImaAdpcmAsPcm(const QString& path, const AudioFormat& format, int samplesPerBlock);

    QFile file_;
    AudioFormat format_;
    int samplesPerBlock_;
    qint64 pcmBytes_ = 0;
    QByteArray header_;
    qint64 cachedBlock_ = -1;
    QByteArray cachedPcm_;
};

} // namespace tamberlo
