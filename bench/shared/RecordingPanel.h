#pragma once

// The panel's recording as the benchmarks drive it: the audio source, the real player and the
// real serial adapter wired as the window wires them, the record button and the automatic
// STOP, with the far end of the port a pseudo-terminal that stamps every byte on arrival.

#include "audio/QtAudioPlayer.h"
#include "link/QtSerialPort.h"
#include "link/Receiver.h"
#include "link/Transmitter.h"
#include "panel/AudioSource.h"

#include <QLineEdit>
#include <QSlider>
#include <QString>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace tamberlo::bench {

// Microseconds on the monotonic clock: that of the bridge simulator's byte log and of the
// sound capture.
qint64 monotonicUs();

// A pseudo-terminal whose device side is the panel's port `port` (a link in the runtime
// directory `runtimeDir`). A thread of its own stamps every byte that arrives at the master
// side, so the panel's event loop does not delay the stamp.
class WireWatch {
public:
    WireWatch(const QString& runtimeDir, int port);
    ~WireWatch();
    WireWatch(const WireWatch&) = delete;
    WireWatch& operator=(const WireWatch&) = delete;

    bool isValid() const { return master_ >= 0; }
    // When `byte` first arrived at or after `sinceUs`; 0 when it has not.
    qint64 find(std::uint8_t byte, qint64 sinceUs) const;

private:
    void run();

    int master_ = -1;
    int slave_ = -1;
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    std::vector<std::pair<std::uint8_t, qint64>> seen_;
    std::thread thread_;
};

// Message boxes written to standard error, counted.
class PrintedBoxes : public MessageBoxes {
public:
    void show(const QString& text, const QString& title, MessageIcon) override;
    int count = 0;
};

// A file dialog that answers `name`.
class FixedDialog : public FileDialog {
public:
    void showOpen(const QString&, const QStringList&) override {}
    QString fileName() const override { return name; }
    QString name;
};

// The serial adapter, with the moment each STOP byte was written to it.
class StampedPort : public QtSerialPort {
public:
    void write(std::uint8_t byte) override;
    qint64 stopWrittenUs = 0; // the last STOP byte's write (monotonic µs)
};

class RecordingPanel {
public:
    RecordingPanel();

    // Opens the serial port `port`; on failure `why` says why.
    bool open(int port, QString* why);
    void close() { serialPort.close(); }
    // Opens `file` as the sound source, as "打开文件" does; its length in ms, 0 when it did
    // not open.
    int openFile(const QString& file);
    // The record button: RecElapsedMs 0 and RecOn, REC to the chip, then the audio started
    // (its "Play" given once REC is out). Returns when the button was pressed (monotonic µs).
    qint64 record();
    // After a run: the source held, the flags cleared.
    void finish();

    // When the automatic stop handed STOP to the transmitter (monotonic µs); 0 before.
    qint64 stopHandedUs = 0;

    StampedPort serialPort;
    Receiver receiver{serialPort};
    PrintedBoxes boxes;
    Transmitter transmitter{serialPort, receiver};
    QtAudioPlayer player;
    FixedDialog dialog;
    QLineEdit nameText;
    QLineEdit lengthText;
    QLineEdit recTime;
    QSlider slider{Qt::Horizontal};
    AudioSource source{player, dialog, boxes, {&nameText, &lengthText, &recTime, &slider}};

private:
    // Hands a one-byte command to the transmitter, expecting a one-byte reply.
    void send(std::uint8_t command);
};

} // namespace tamberlo::bench
