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
#include <chrono>

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

QProcessEnvironment RuntimeDir::environment() const {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir_.path());
    return environment;
}

// ---- the simulator ------------------------------------------------------------------

Simulator::~Simulator() {
    stop();
}

bool Simulator::start(int port, const QStringList& options, QString* why) {
    if (!launch(port, options)) {
        *why = QStringLiteral("cannot start %1: %2")
                   .arg(QStringLiteral(TAMBERLO_BRIDGE_SIM), process_.errorString());
        return false;
    }
    if (waitForLink(port).isEmpty()) {
        *why = QStringLiteral("no link %1 from the simulator: %2")
                   .arg(runtime_.linkPath(port), errorOutput());
        return false;
    }
    return true;
}

bool Simulator::launch(int port, const QStringList& options) {
    port_ = port;
    logPath_ = runtime_.path() + QStringLiteral("/sim-port%1.log").arg(port);
    return launchWith(QStringList{QStringLiteral("--port"), QString::number(port),
                                  QStringLiteral("--log"), logPath_} +
                      options);
}

bool Simulator::launchWith(const QStringList& arguments) {
    process_.setProcessEnvironment(runtime_.environment());
    process_.setWorkingDirectory(runtime_.path());
    process_.start(QStringLiteral(TAMBERLO_BRIDGE_SIM), arguments);
    return process_.waitForStarted(LinkAppearsMs);
}

QString Simulator::waitForLink(int port) {
    // The simulator writes its device's path as its first line of output once the link is in
    // place (the line stays unread here).
    const QDeadlineTimer deadline(LinkAppearsMs);
    while (isRunning() && !process_.canReadLine() && !deadline.hasExpired())
        process_.waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime())));
    const QFileInfo link(runtime_.linkPath(port));
    if (!isRunning() || !link.isSymLink() || !link.exists())
        return {};
    return link.symLinkTarget();
}

bool Simulator::waitForExit(int ms) {
    // QProcess::waitForFinished() fails for a process that has already ended.
    return !isRunning() || process_.waitForFinished(ms);
}

QString Simulator::errorOutput() {
    errorOutput_ += process_.readAllStandardError();
    return QString::fromLocal8Bit(errorOutput_);
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

QStringList Simulator::events() const {
    static const QRegularExpression line(QStringLiteral("^\\d+ -- +(.*)$"));
    QStringList events;
    QFile file(logPath_);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return events;
    while (!file.atEnd()) {
        const QRegularExpressionMatch m = line.match(QString::fromUtf8(file.readLine()).trimmed());
        if (m.hasMatch())
            events << m.captured(1);
    }
    return events;
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

QList<std::pair<int, int>> memoryRuns(const QString& memoryFile) {
    QList<std::pair<int, int>> runs;
    QFile file(memoryFile);
    if (!file.open(QIODevice::ReadOnly))
        return runs;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() >= 3 && fields[0] == "rows")
            runs.append({fields[1].toInt(nullptr, 0), fields[2].toInt(nullptr, 0)});
    }
    return runs;
}

bool waitFor(const std::function<bool()>& condition, int ms) {
    return QTest::qWaitFor(condition, ms);
}

qint64 monotonicUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

ProgramRun runProgram(const QString& program, const QStringList& arguments,
                      const QProcessEnvironment& environment, int timeoutMs) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    ProgramRun run;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        run.err = QStringLiteral("did not finish");
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

// ---- the rig ------------------------------------------------------------------------

bool Rig::init() {
    runtime = std::make_unique<RuntimeDir>();
    return runtime->isValid();
}

bool Rig::startSimulator(const QStringList& options, int port) {
    return tamberlo::e2e::startSimulator(sim, *runtime, port ? port : nextPort_++, options);
}

Panel& Rig::newPanel(AudioPlayer* player) {
    panel.reset();
    panel = std::make_unique<Panel>(player);
    return *panel;
}

void Rig::cleanup() {
    if (QTest::currentTestFailed() && sim)
        qInfo("%s", qPrintable(sim->tail()));
    panel.reset(); // closes the port first, as the operator closing the window would
    sim.reset();
}

} // namespace tamberlo::e2e
