#pragma once

#include <QList>
#include <QString>
#include <cstdint>
#include <optional>

namespace tamberlo {

// Port numbers as the operator types them into Combo1, and the device each one stands for.
//
// A number N names, in this order:
//  1. the device behind `<runtime dir>/tamberlo/port<N>` when that link is there (the bridge
//     simulator makes one, a user may make one by hand);
//  2. on Windows COM<N>; elsewhere the N-th serial device present, counting USB and ACM
//     adapters first, then the others, each group in natural name order.

// The numbers that name a port: counted from 1 (the first serial device, or the link
// port1), up to the largest 16-bit port number.
inline constexpr int LowestPortNumber = 1;
inline constexpr int HighestPortNumber = 32767;

// The text of Combo1 as a 16-bit port number. Anything else (empty, not a whole number, out of
// range) gives nothing, and *reason (when given) says what is wrong with the text.
std::optional<std::int16_t> parsePortNumber(const QString& text, QString* reason = nullptr);

// $XDG_RUNTIME_DIR, or Qt's runtime location when that is not set.
QString runtimeDirectory();

// `<runtime dir>/tamberlo/port<N>`, whether it exists or not.
QString portLinkPath(std::int16_t number);

// A serial device of the machine as the port list shows it.
struct SerialDevice {
    QString location;    // what to open: /dev/ttyUSB0, COM3, ...
    QString description; // the driver's or vendor's name for it, may be empty
    bool usb = false;    // a USB or ACM adapter
};

// USB and ACM adapters first, then the others, each group in natural name order
// (ttyUSB2 before ttyUSB10).
QList<SerialDevice> orderSerialDevices(QList<SerialDevice> devices);

// Natural order of names: runs of digits compare by their value.
bool naturalLess(const QString& a, const QString& b);

// The serial devices present right now, in the order port numbers count them.
QList<SerialDevice> presentSerialDevices();

// What a port number stands for right now.
struct PortDevice {
    QString location; // device to open; empty when the number stands for none
    QString link;     // the port<N> link it was found through, if any
    QString detail;   // the device's description, or why there is none
    bool exists = false;
};

// `devices` is the ordered list of serial devices to count in (step 2 off Windows).
PortDevice resolvePort(std::int16_t number, const QList<SerialDevice>& devices);
PortDevice resolvePort(std::int16_t number);
// The same, but the machine's serial devices are only looked up (which takes a while) when
// no port link names the number.
PortDevice resolvePortLinkFirst(std::int16_t number);

// One line for the tool tip of a Combo1 item: the device the number stands for right now, or
// that none does.
QString describePort(std::int16_t number, const QList<SerialDevice>& devices);
QString describePort(std::int16_t number);

} // namespace tamberlo
