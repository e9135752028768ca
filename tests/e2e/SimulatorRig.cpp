#include "e2e/SimulatorRig.h"

#include "link/Transmitter.h"
#include "widgets/Lamp.h"

#include <QComboBox>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

namespace tamberlo::e2e {

RuntimeDir::RuntimeDir() {
    if (!dir_.isValid())
        return;
    QFile::setPermissions(dir_.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(dir_.path()));
}

QString RuntimeDir::linkPath(int port) const {
    return dir_.path() + QStringLiteral("/tamberlo/port") + QString::number(port);
}

// ---- the simulator ------------------------------------------------------------------

Simulator::~Simulator() {
    stop();
}

bool Simulator::start(int port, const QStringList& options, QString* why) {
    port_ = port;
    logPath_ = runtime_.path() + QStringLiteral("/sim-port%1.log").arg(port);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime_.path());
    process_.setProcessEnvironment(environment);
    QStringList arguments{QStringLiteral("--port"), QString::number(port), QStringLiteral("--log"),
                          logPath_};
    arguments += options;
    process_.start(QStringLiteral(TAMBERLO_BRIDGE_SIM), arguments);
    if (!process_.waitForStarted(LinkAppearsMs)) {
        *why = QStringLiteral("cannot start %1: %2")
                   .arg(QStringLiteral(TAMBERLO_BRIDGE_SIM), process_.errorString());
        return false;
    }
    const QString link = runtime_.linkPath(port);
    const bool ready = waitFor(
        [&] {
            const QFileInfo info(link);
            return !isRunning() || (info.isSymLink() && info.exists());
        },
        LinkAppearsMs);
    if (!ready || !isRunning()) {
        *why = QStringLiteral("no link %1 from the simulator: %2")
                   .arg(link, QString::fromLocal8Bit(process_.readAllStandardError()));
        return false;
    }
    return true;
}

bool startSimulator(std::unique_ptr<Simulator>& sim, const RuntimeDir& runtime, int port,
                    const QStringList& options) {
    sim = std::make_unique<Simulator>(runtime);
    QString why;
    if (sim->start(port, options, &why))
        return true;
    qWarning("%s", qPrintable(why));
    return false;
}

void Simulator::stop() {
    if (process_.state() == QProcess::NotRunning)
        return;
    process_.terminate();
    if (!process_.waitForFinished(5000)) {
        process_.kill();
        process_.waitForFinished(5000);
    }
}

QList<LoggedByte> Simulator::log() const {
    static const QRegularExpression line(
        QStringLiteral("^(\\d+) (in |out|drp) ([0-9A-F]{2}) ?(.*)$"));
    QList<LoggedByte> bytes;
    QFile file(logPath_);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return bytes;
    while (!file.atEnd()) {
        const QString text = QString::fromUtf8(file.readLine()).trimmed();
        const QRegularExpressionMatch m = line.match(text);
        if (!m.hasMatch())
            continue; // events ("--") and a line still being written
        LoggedByte byte;
        byte.us = m.captured(1).toLongLong();
        byte.direction = m.captured(2).trimmed();
        byte.value = static_cast<quint8>(m.captured(3).toUInt(nullptr, 16));
        byte.note = m.captured(4);
        bytes.push_back(byte);
    }
    return bytes;
}

QStringList Simulator::setRecRanges() const {
    static const QRegularExpression done(
        QStringLiteral("SET_REC 5/5: SET_REC (0x[0-9A-F]{3}\\.\\.0x[0-9A-F]{3})"));
    QStringList ranges;
    for (const LoggedByte& b : received()) {
        const auto m = done.match(b.note);
        if (m.hasMatch())
            ranges << m.captured(1);
    }
    return ranges;
}

QList<LoggedByte> Simulator::received(std::optional<quint8> value) const {
    QList<LoggedByte> result;
    for (const LoggedByte& byte : log()) {
        if (byte.direction == QLatin1String("in") && (!value || byte.value == *value))
            result.push_back(byte);
    }
    return result;
}

QList<LoggedByte> Simulator::commands(const QString& name) const {
    QList<LoggedByte> result;
    for (const LoggedByte& byte : received()) {
        if (byte.note == name || byte.note.startsWith(name + QStringLiteral(" (refused")))
            result.push_back(byte);
    }
    return result;
}

QString Simulator::tail(int lines) const {
    QFile file(logPath_);
    QStringList all;
    if (file.open(QIODevice::ReadOnly | QIODevice::Text))
        all = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    const QStringList last = all.mid(std::max<qsizetype>(0, all.size() - lines));
    return QStringLiteral("simulator log %1:\n%2").arg(logPath_, last.join(QLatin1Char('\n')));
}

// ---- the panel ----------------------------------------------------------------------

Panel::Panel(AudioPlayer* player) {
    form_ = std::make_unique<Form1>(
        Form1::Platform{nullptr, player ? player : &fakePlayer, &boxes, &dialog});
    form_->show();
}

Panel::~Panel() = default;

QPushButton* Panel::button(const QString& caption) const {
    const auto buttons = form_->findChildren<QPushButton*>();
    for (QPushButton* b : buttons) {
        if (b->text() == caption)
            return b;
    }
    qFatal("no button captioned %s", qPrintable(caption));
}

QWidget* Panel::widget(const QString& name) const {
    auto* w = form_->findChild<QWidget*>(name);
    if (!w)
        qFatal("no control %s", qPrintable(name));
    return w;
}

QLineEdit* Panel::edit(const QString& name) const {
    auto* e = qobject_cast<QLineEdit*>(widget(name));
    if (!e)
        qFatal("%s is not a text box", qPrintable(name));
    return e;
}

bool Panel::lit(const QString& lamp) const {
    return widget(lamp)->isVisibleTo(form_.get());
}

void Panel::clickPortButton(int port) {
    auto* combo = form_->findChild<QComboBox*>(QStringLiteral("Combo1"));
    combo->setEditText(QString::number(port));
    form_->findChild<QPushButton*>(QStringLiteral("Command16"))->click();
}

bool Panel::isShownOpen() const {
    const auto* lamp = qobject_cast<const Lamp*>(widget(QStringLiteral("Seril_StDig")));
    return form_->findChild<QPushButton*>(QStringLiteral("Command16"))->text() ==
               QStringLiteral("关闭串口") &&
           lamp->fill() == QColor(0x00FF00);
}

bool Panel::isShownClosed() const {
    const auto* lamp = qobject_cast<const Lamp*>(widget(QStringLiteral("Seril_StDig")));
    return form_->findChild<QPushButton*>(QStringLiteral("Command16"))->text() ==
               QStringLiteral("打开串口") &&
           lamp->fill() == QColor(0xFFFFFF);
}

bool Panel::openPort(int port) {
    clickPortButton(port);
    return isShownOpen() && form_->port().isOpen();
}

bool Panel::click(const QString& caption) {
    button(caption)->click();
    return waitFor([this] { return !form_->transmitter().isSending(); });
}

QString Panel::readInto(const QString& caption, const QString& box) {
    QLineEdit* text = edit(box);
    text->clear();
    if (!click(caption))
        return {};
    waitFor([text] { return !text->text().isEmpty(); });
    return text->text();
}

bool Panel::resetAndPowerUp() {
    return click(QStringLiteral("1器件复位")) && click(QStringLiteral("2器件上电"));
}

// ---- helpers ------------------------------------------------------------------------

QByteArray hexTextBytes(const QString& text) {
    static const QRegularExpression form(QStringLiteral("^([0-9A-F]{2} )+$"));
    if (!form.match(text).hasMatch())
        return {};
    return QByteArray::fromHex(text.toLatin1());
}

std::optional<int> hexTextValue(const QString& text) {
    const QByteArray bytes = hexTextBytes(text);
    if (bytes.isEmpty())
        return std::nullopt;
    int value = 0;
    for (char b : bytes)
        value = value << 8 | static_cast<quint8>(b);
    return value;
}

bool waitFor(const std::function<bool()>& condition, int ms) {
    return QTest::qWaitFor(condition, ms);
}

} // namespace tamberlo::e2e
