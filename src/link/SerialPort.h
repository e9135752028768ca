#pragma once

#include <QObject>
#include <QString>
#include <cstdint>

namespace tamberlo {

// The bridge takes one byte per 50 ms: no byte goes out sooner after the one before it.
inline constexpr int BytePaceMs = 50;

// Kinds of communication notification the port raises. Only BytesReceived carries
// reply traffic; DeviceLost means the device behind an open port went away.
enum class CommEvent { BytesReceived, Error, DeviceLost };

// Why the last open failed, as far as the panel tells the operator apart.
enum class OpenFailure {
    None,         // the last open succeeded (or none was tried)
    NoDevice,     // the number stands for no device, or the device is missing
    Busy,         // another program holds the device
    AccessDenied, // the user may not open the device
    Other,
};

// The operations the device link needs from a serial port, always 9600 baud, 8N1,
// no flow control, raw bytes. Notifications arrive on the UI thread.
class SerialPort : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~SerialPort() override = default;

    virtual void setPortNumber(std::int16_t number) = 0;
    virtual std::int16_t portNumber() const = 0;
    // Opens the selected port with the fixed settings; on failure returns false and
    // errorText() says why. An open port raises BytesReceived with threshold 1.
    virtual bool open() = 0;
    virtual QString errorText() const = 0;
    virtual OpenFailure openFailure() const { return OpenFailure::Other; }
    virtual void close() = 0;
    virtual bool isOpen() const = 0;

    virtual void selectBinaryMode() = 0;
    virtual void discardTransmitBuffer() = 0;
    virtual void write(std::uint8_t byte) = 0;
    // Bytes written that the system has not yet put on the line (a USB adapter's driver holds
    // them for a few ms); 0 when it cannot tell.
    virtual int bytesUnsent() const { return 0; }
    virtual int bytesWaiting() const = 0;
    virtual std::uint8_t read() = 0;
    virtual void discardReceiveBuffer() = 0;
    // Drops every byte received so far, those the system still holds for the port included.
    virtual void discardInput() { discardReceiveBuffer(); }
    // 0: no notification; 1: BytesReceived whenever at least one byte is waiting.
    virtual void setReceiveThreshold(int threshold) = 0;

signals:
    void communication(tamberlo::CommEvent kind);
};

} // namespace tamberlo
