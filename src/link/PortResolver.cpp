#include "link/PortResolver.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSerialPortInfo>
#include <QStandardPaths>
#include <algorithm>
#include <limits>

namespace tamberlo {

std::optional<std::int16_t> parsePortNumber(const QString& text, QString* reason) {
    const QString trimmed = text.trimmed();
    auto reject = [reason](const QString& why) -> std::optional<std::int16_t> {
        if (reason)
            *reason = why;
        return std::nullopt;
    };
    if (trimmed.isEmpty())
        return reject(QStringLiteral("没有填写串口号"));
    static const QRegularExpression wholeNumber(QStringLiteral("^[+-]?[0-9]+$"));
    if (!wholeNumber.match(trimmed).hasMatch())
        return reject(QStringLiteral("“%1”不是整数").arg(trimmed));
    bool ok = false;
    const qlonglong value = trimmed.toLongLong(&ok);
    if (!ok || value < std::numeric_limits<std::int16_t>::min() ||
        value > std::numeric_limits<std::int16_t>::max())
        return reject(QStringLiteral("“%1”超出串口号的范围（-32768 到 32767）").arg(trimmed));
    if (reason)
        reason->clear();
    return static_cast<std::int16_t>(value);
}

QString runtimeDirectory() {
    const QString fromEnvironment = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
}

QString portLinkPath(std::int16_t number) {
    return QDir(runtimeDirectory()).filePath(QStringLiteral("tamberlo/port%1").arg(number));
}

namespace {

bool isAsciiDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

QStringView withoutLeadingZeros(QStringView digits) {
    while (digits.size() > 1 && digits.front() == u'0')
        digits = digits.mid(1);
    return digits;
}

} // namespace

bool naturalLess(const QString& a, const QString& b) {
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        if (isAsciiDigit(a[i]) && isAsciiDigit(b[j])) {
            const qsizetype startA = i;
            const qsizetype startB = j;
            while (i < a.size() && isAsciiDigit(a[i]))
                ++i;
            while (j < b.size() && isAsciiDigit(b[j]))
                ++j;
            const QStringView runA = withoutLeadingZeros(QStringView(a).mid(startA, i - startA));
            const QStringView runB = withoutLeadingZeros(QStringView(b).mid(startB, j - startB));
            if (runA.size() != runB.size())
                return runA.size() < runB.size();
            if (const int order = runA.compare(runB); order != 0)
                return order < 0;
            continue;
        }
        if (a[i] != b[j])
            return a[i] < b[j];
        ++i;
        ++j;
    }
    const qsizetype restA = a.size() - i;
    const qsizetype restB = b.size() - j;
    if (restA != restB)
        return restA < restB;
    return a < b; // "ttyS01" and "ttyS1": any fixed order will do
}

QList<SerialDevice> orderSerialDevices(QList<SerialDevice> devices) {
    std::stable_sort(devices.begin(), devices.end(),
                     [](const SerialDevice& a, const SerialDevice& b) {
                         if (a.usb != b.usb)
                             return a.usb;
                         return naturalLess(a.location, b.location);
                     });
    return devices;
}

QList<SerialDevice> presentSerialDevices() {
    QList<SerialDevice> devices;
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo& info : ports) {
#ifdef Q_OS_MACOS
        // Every device shows up twice there; the cu. twin is the one a panel opens.
        if (info.portName().startsWith(QLatin1String("tty.")))
            continue;
#endif
        SerialDevice device;
#ifdef Q_OS_WIN
        device.location = info.portName();
#else
        device.location = info.systemLocation();
#endif
        device.description = info.description();
        const QString name = info.portName().toLower();
        device.usb = info.hasVendorIdentifier() || name.contains(QLatin1String("usb")) ||
                     name.contains(QLatin1String("acm"));
        devices.append(device);
    }
    return orderSerialDevices(devices);
}

PortDevice resolvePort(std::int16_t number, const QList<SerialDevice>& devices) {
    PortDevice port;
    const QString link = portLinkPath(number);
    const QFileInfo linkInfo(link);
    if (linkInfo.isSymLink() || linkInfo.exists()) {
        // A link that points nowhere still names this port: the device it was made for is
        // gone, and quietly opening some other device instead would be worse.
        port.link = link;
        port.exists = linkInfo.exists();
        if (port.exists) {
            port.location = linkInfo.canonicalFilePath();
        } else {
            port.location = linkInfo.symLinkTarget();
            port.detail = QStringLiteral("链接指向的设备不存在");
        }
        return port;
    }
#ifdef Q_OS_WIN
    if (number < 1) {
        port.detail = QStringLiteral("串口号须大于 0");
        return port;
    }
    port.location = QStringLiteral("COM%1").arg(number);
    for (const SerialDevice& device : devices) {
        if (device.location.compare(port.location, Qt::CaseInsensitive) == 0) {
            port.exists = true;
            port.detail = device.description;
        }
    }
    if (!port.exists)
        port.detail = QStringLiteral("当前不存在");
#else
    if (number < 1 || number > devices.size()) {
        port.detail = number < 1 ? QStringLiteral("串口号须大于 0")
                                 : QStringLiteral("本机现有 %1 个串口设备").arg(devices.size());
        return port;
    }
    const SerialDevice& device = devices.at(number - 1);
    port.location = device.location;
    port.detail = device.description;
    port.exists = true;
#endif
    return port;
}

PortDevice resolvePort(std::int16_t number) {
    return resolvePort(number, presentSerialDevices());
}

PortDevice resolvePortLinkFirst(std::int16_t number) {
    const QFileInfo link(portLinkPath(number));
    if (link.isSymLink() || link.exists())
        return resolvePort(number, {});
    return resolvePort(number);
}

QString describePort(std::int16_t number, const QList<SerialDevice>& devices) {
    const PortDevice port = resolvePort(number, devices);
    if (port.location.isEmpty())
        return QStringLiteral("串口 %1：没有对应的设备（%2）").arg(number).arg(port.detail);
    if (!port.link.isEmpty()) {
        if (!port.exists)
            return QStringLiteral("串口 %1：%2 指向的 %3 不存在")
                .arg(number)
                .arg(port.link, port.location);
        return QStringLiteral("串口 %1：%2（经由 %3）").arg(number).arg(port.location, port.link);
    }
    if (port.detail.isEmpty())
        return QStringLiteral("串口 %1：%2").arg(number).arg(port.location);
    return QStringLiteral("串口 %1：%2（%3）").arg(number).arg(port.location, port.detail);
}

QString describePort(std::int16_t number) {
    return describePort(number, presentSerialDevices());
}

} // namespace tamberlo
