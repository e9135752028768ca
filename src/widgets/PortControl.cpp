#include "widgets/PortControl.h"

#include "link/PortResolver.h"

namespace tamberlo {

PortControl::PortControl(SerialPort& port, Transmitter& transmitter, MessageBoxes& boxes,
                         QObject* parent)
    : QObject(parent), port_(port), transmitter_(transmitter), boxes_(boxes) {
    connect(&port_, &SerialPort::communication, this, &PortControl::onCommunication);
}

QString PortControl::caption(bool open) {
    return open ? tr("关闭串口") : tr("打开串口");
}

QColor PortControl::lampColor(bool open) {
    return open ? QColor(0x00FF00) : QColor(0xFFFFFF);
}

void PortControl::tellOperator(const QString& text) {
    boxes_.show(text, tr("串口状态"), MessageIcon::Critical);
}

void PortControl::toggle(const QString& comboText) {
    emit toggled();

    if (port_.isOpen()) {
        port_.close();
        transmitter_.abort();
        shownOpen_ = false;
        emit openChanged(false);
        return;
    }

    QString reason;
    const std::optional<std::int16_t> number = parsePortNumber(comboText, &reason);
    if (!number) {
        shownOpen_ = false;
        emit openChanged(false);
        tellOperator(tr("串口打开失败：串口号无效，%1。").arg(reason));
        return;
    }

    port_.setPortNumber(*number);
    if (!port_.open()) {
        port_.close();
        shownOpen_ = false;
        emit openChanged(false);
        QString text = tr("串口打开失败：%1").arg(port_.errorText());
#ifdef Q_OS_LINUX
        if (port_.openFailure() == OpenFailure::AccessDenied)
            text += tr("\n当前用户没有使用这个串口的权限：须把用户加入 dialout 组"
                       "（sudo usermod -aG dialout $USER），重新登录后再试。");
#endif
        tellOperator(text);
        return;
    }
    // Whatever the receiver counted before, and whatever the device sent before the panel
    // took it, is not a reply to anything the panel will send on this port.
    transmitter_.receiver().startAfresh();
    shownOpen_ = true;
    emit openChanged(true);
}

void PortControl::onCommunication(CommEvent kind) {
    if (kind != CommEvent::DeviceLost || !shownOpen_)
        return;
    port_.close();
    transmitter_.abort();
    shownOpen_ = false;
    emit openChanged(false);
    tellOperator(tr("串口已断开"));
}

} // namespace tamberlo
