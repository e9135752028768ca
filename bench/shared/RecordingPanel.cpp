#include "shared/RecordingPanel.h"

#include "support/RealTime.h"

#include <QDir>
#include <QFile>

#include <chrono>
#include <cstdio>
#include <pty.h>
#include <sys/select.h>
#include <unistd.h>

namespace tamberlo::bench {

qint64 monotonicUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// ---- the far end of the port ---------------------------------------------------------

WireWatch::WireWatch(const QString& runtimeDir, int port) {
    if (openpty(&master_, &slave_, nullptr, nullptr, nullptr) != 0) {
        std::perror("openpty");
        master_ = slave_ = -1;
        return;
    }
    QDir(runtimeDir).mkpath(QStringLiteral("tamberlo"));
    const QString link = runtimeDir + QStringLiteral("/tamberlo/port") + QString::number(port);
    QFile::remove(link);
    QFile::link(QString::fromLocal8Bit(ttyname(slave_)), link);
    thread_ = std::thread([this] { run(); });
}

WireWatch::~WireWatch() {
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    if (slave_ >= 0)
        ::close(slave_);
    if (master_ >= 0)
        ::close(master_);
}

qint64 WireWatch::find(std::uint8_t byte, qint64 sinceUs) const {
    std::lock_guard lock(mutex_);
    for (const auto& [b, us] : seen_) {
        if (b == byte && us >= sinceUs)
            return us;
    }
    return 0;
}

void WireWatch::run() {
    test::stampAtRealTimePriority();
    while (!stop_) {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(master_, &set);
        timeval wait{0, 100000}; // to look at stop_ now and then
        if (select(master_ + 1, &set, nullptr, nullptr, &wait) <= 0)
            continue;
        unsigned char buffer[64];
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        const qint64 now = monotonicUs();
        if (n <= 0)
            continue;
        std::lock_guard lock(mutex_);
        for (ssize_t i = 0; i < n; ++i)
            seen_.emplace_back(buffer[i], now);
    }
}

// ---- the panel's side ----------------------------------------------------------------

void PrintedBoxes::show(const QString& text, const QString& title, MessageIcon) {
    std::fprintf(stderr, "message box: %s %s\n", qPrintable(title), qPrintable(text));
    ++count;
}

void StampedPort::write(std::uint8_t byte) {
    QtSerialPort::write(byte);
    if (byte == 0x02)
        stopWrittenUs = monotonicUs();
}

RecordingPanel::RecordingPanel() {
    QObject::connect(&serialPort, &SerialPort::communication, &receiver,
                     &Receiver::onCommunication);
    slider.setRange(0, 30000);
    source.followTransmitter(transmitter);
    source.setStopCommand([this] {
        stopHandedUs = monotonicUs();
        send(0x02); // STOP
    });
}

bool RecordingPanel::open(int port, QString* why) {
    serialPort.setPortNumber(port);
    if (serialPort.open())
        return true;
    *why = serialPort.errorText();
    return false;
}

int RecordingPanel::openFile(const QString& file) {
    dialog.name = file;
    source.openFile();
    return std::max(0, int(source.MusicLenMs()));
}

qint64 RecordingPanel::record() {
    stopHandedUs = 0;
    serialPort.stopWrittenUs = 0;
    source.setRecElapsedMs(0);
    source.setRecOn(true);
    send(0x41); // REC
    const qint64 pressed = monotonicUs();
    source.startRecordingSource();
    return pressed;
}

void RecordingPanel::finish() {
    source.holdRecordingSource();
    source.setMusicOn(false);
    source.setRecOn(false);
}

void RecordingPanel::send(std::uint8_t command) {
    receiver.setRecvExpect(1);
    transmitter.SendBuf = {command};
    transmitter.Isd_Comm2_Send(1);
}

} // namespace tamberlo::bench
