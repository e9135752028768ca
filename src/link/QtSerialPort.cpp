#include "link/QtSerialPort.h"

#include "link/PortResolver.h"

#include <QFileInfo>
#include <algorithm>
#include <limits>
#include <sys/ioctl.h>

namespace tamberlo {

namespace {
constexpr int PresenceCheckMs = 500;
}

QtSerialPort::QtSerialPort(QObject* parent) : SerialPort(parent) {
    connect(&port_, &QSerialPort::readyRead, this, &QtSerialPort::onReadyRead);
    connect(&port_, &QSerialPort::errorOccurred, this, &QtSerialPort::onErrorOccurred);
    presenceCheck_.setInterval(PresenceCheckMs);
    connect(&presenceCheck_, &QTimer::timeout, this, &QtSerialPort::checkDevicePresent);
}

QtSerialPort::~QtSerialPort() {
    close();
}

void QtSerialPort::fail(OpenFailure failure, const QString& text) {
    failure_ = failure;
    errorText_ = text;
}

bool QtSerialPort::open() {
    if (port_.isOpen())
        close();
    failure_ = OpenFailure::None;
    errorText_.clear();
    systemError_.clear();

    PortDevice device;
    if (!devicePath_.isEmpty()) {
        device.location = devicePath_;
        device.exists = QFileInfo::exists(devicePath_);
    } else {
        device = resolvePort(number_);
    }
    if (device.location.isEmpty()) {
        fail(OpenFailure::NoDevice, describePort(number_));
        return false;
    }
    location_ = device.location;
    port_.setPortName(device.location);
    port_.setBaudRate(QSerialPort::Baud9600);
    port_.setDataBits(QSerialPort::Data8);
    port_.setParity(QSerialPort::NoParity);
    port_.setStopBits(QSerialPort::OneStop);
    port_.setFlowControl(QSerialPort::NoFlowControl);
    if (!port_.open(QIODevice::ReadWrite)) {
        const QSerialPort::SerialPortError error = port_.error();
        systemError_ = port_.errorString();
        const QString reason = tr("%1：%2").arg(device.location, port_.errorString());
        if (error == QSerialPort::DeviceNotFoundError) {
            fail(OpenFailure::NoDevice, reason);
        } else if (error == QSerialPort::PermissionError) {
            // Qt reports a device in use (locked, or opened exclusively) as a permission
            // error too; the file's own permissions tell the two apart.
            const QFileInfo info(device.location);
            const bool mayUse = info.isReadable() && info.isWritable();
            if (mayUse)
                fail(
                    OpenFailure::Busy,
                    tr("%1：串口正被其他程序使用（%2）").arg(device.location, port_.errorString()));
            else
                fail(OpenFailure::AccessDenied, reason);
        } else {
            fail(OpenFailure::Other, reason);
        }
        location_.clear();
        return false;
    }
    ++session_;
    losing_ = false;
    threshold_ = 1;
    presenceCheck_.start();
    return true;
}

void QtSerialPort::close() {
    presenceCheck_.stop();
    ++session_;
    if (port_.isOpen()) {
        closing_ = true;
        port_.close();
        closing_ = false;
    }
    losing_ = false;
    threshold_ = 1;
    location_.clear();
}

void QtSerialPort::discardTransmitBuffer() {
    if (port_.isOpen())
        port_.clear(QSerialPort::Output);
}

void QtSerialPort::write(std::uint8_t byte) {
    if (!port_.isOpen())
        return;
    const char data = static_cast<char>(byte);
    port_.write(&data, 1);
    // Hand the byte to the system now rather than on the next turn of the event loop, so it
    // leaves on the tick that wrote it.
    port_.flush();
}

int QtSerialPort::bytesUnsent() const {
    if (!port_.isOpen())
        return 0;
    int queued = 0;
    if (::ioctl(static_cast<int>(port_.handle()), TIOCOUTQ, &queued) < 0)
        return 0;
    return std::max(queued, 0);
}

int QtSerialPort::bytesWaiting() const {
    if (!port_.isOpen())
        return 0;
    return static_cast<int>(
        std::min<qint64>(port_.bytesAvailable(), std::numeric_limits<int>::max()));
}

std::uint8_t QtSerialPort::read() {
    char byte = 0;
    if (!port_.isOpen() || !port_.getChar(&byte))
        return 0;
    return static_cast<std::uint8_t>(byte);
}

void QtSerialPort::discardReceiveBuffer() {
    // Drops what the panel has taken in but not read. Bytes still queued in the system came
    // in while the panel was busy with the ones before them; they are reply bytes, and they
    // raise a notification of their own rather than being thrown away unseen.
    if (port_.isOpen())
        port_.skip(port_.bytesAvailable());
}

void QtSerialPort::discardInput() {
    // Qt's buffer and the system's queue both.
    if (port_.isOpen())
        port_.clear(QSerialPort::Input);
}

void QtSerialPort::setReceiveThreshold(int threshold) {
    threshold_ = threshold;
    if (threshold_ <= 0 || !port_.isOpen() || port_.bytesAvailable() == 0)
        return;
    // Bytes left waiting while notifications were off would otherwise wait for the next
    // byte to arrive.
    QMetaObject::invokeMethod(
        this,
        [this, session = session_] {
            if (session == session_)
                onReadyRead();
        },
        Qt::QueuedConnection);
}

void QtSerialPort::onReadyRead() {
    if (threshold_ > 0 && port_.isOpen() && port_.bytesAvailable() > 0)
        emit communication(CommEvent::BytesReceived);
}

void QtSerialPort::onErrorOccurred(QSerialPort::SerialPortError error) {
    if (error == QSerialPort::NoError || closing_ || losing_ || !port_.isOpen())
        return;
    if (error == QSerialPort::ResourceError || error == QSerialPort::ReadError) {
        onDeviceLost();
        return;
    }
    emit communication(CommEvent::Error);
}

bool QtSerialPort::devicePresent() const {
    return QFileInfo::exists(location_);
}

void QtSerialPort::checkDevicePresent() {
    if (port_.isOpen() && !losing_ && !devicePresent())
        onDeviceLost();
}

void QtSerialPort::onDeviceLost() {
    losing_ = true;
    presenceCheck_.stop();
    // The error arrives from inside QSerialPort's own read handling; the port is closed once
    // that has returned. Until then further errors of this session are ignored.
    QMetaObject::invokeMethod(
        this,
        [this, session = session_] {
            if (session != session_)
                return; // closed by the panel in the meantime: nothing to report
            close();
            emit communication(CommEvent::DeviceLost);
        },
        Qt::QueuedConnection);
}

} // namespace tamberlo
