#pragma once

#include "link/SerialPort.h"

#include <QSerialPort>
#include <QTimer>

namespace tamberlo {

// The panel's serial port on top of QSerialPort: 9600 baud, 8 data bits, no parity, 1 stop
// bit, no flow control, raw bytes both ways. The port number is mapped to a device by
// resolvePort() at the moment the port is opened.
//
// readyRead becomes the BytesReceived notification while the receive threshold is 1.
//
// A device that goes away under an open port (a USB adapter pulled, the other end of a
// pseudo-terminal hung up) is reported once as DeviceLost, after the port has been closed.
// Qt reports it as a ResourceError, or for a hung-up pseudo-terminal as an endless run of
// ReadErrors; either one ends the session at once, so a dead descriptor is never polled again.
// A check every half second catches a device node that vanished without either.
class QtSerialPort : public SerialPort {
    Q_OBJECT
public:
    explicit QtSerialPort(QObject* parent = nullptr);
    ~QtSerialPort() override;

    void setPortNumber(std::int16_t number) override { number_ = number; }
    std::int16_t portNumber() const override { return number_; }
    bool open() override;
    QString errorText() const override { return errorText_; }
    OpenFailure openFailure() const override { return failure_; }
    void close() override;
    bool isOpen() const override { return port_.isOpen(); }

    // QSerialPort never translates bytes; nothing to switch.
    void selectBinaryMode() override {}
    void discardTransmitBuffer() override;
    void write(std::uint8_t byte) override;
    int bytesUnsent() const override;
    int bytesWaiting() const override;
    std::uint8_t read() override;
    void discardReceiveBuffer() override;
    void discardInput() override;
    void setReceiveThreshold(int threshold) override;

    // The device the open port is on (the target of a port link, not the link).
    QString deviceLocation() const { return location_; }

    // Opens this device (a path such as /dev/ttyUSB0) instead of resolving the port number;
    // empty: back to the number.
    void setDevicePath(const QString& path) { devicePath_ = path; }
    QString devicePath() const { return devicePath_; }
    // The system's own words for why the last open failed ("Permission denied"); empty when
    // it did not fail there.
    QString systemErrorText() const { return systemError_; }

protected:
    // Whether the device node of the open port is still there; looked at every half second.
    virtual bool devicePresent() const;

private:
    void onReadyRead();
    void onErrorOccurred(QSerialPort::SerialPortError error);
    void checkDevicePresent();
    void onDeviceLost();
    void fail(OpenFailure failure, const QString& text);

    QSerialPort port_;
    QTimer presenceCheck_;
    QString location_;
    QString errorText_;
    QString devicePath_;
    QString systemError_;
    OpenFailure failure_ = OpenFailure::None;
    std::int16_t number_ = 0;
    int threshold_ = 1;
    // Counts open/close cycles, so that a notification queued for one session never reaches
    // the next one.
    unsigned session_ = 0;
    bool losing_ = false;  // DeviceLost is on its way for this session
    bool closing_ = false; // inside port_.close(): errors from it mean nothing
};

} // namespace tamberlo
