#include "cli/CliSession.h"

#include "chip/AnalogPath.h"
#include "chip/Catalogue.h"
#include "link/PortResolver.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTextStream>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace tamberlo::cli {

namespace {

constexpr qint64 NsPerMs = 1'000'000;

std::atomic<bool> interrupted{false};

extern "C" void onInterrupt(int) {
    interrupted.store(true);
}

QString modelName(const ChipModelRow* model) {
    return model
               ? QString::fromLatin1(model->name.data(), static_cast<qsizetype>(model->name.size()))
               : QStringLiteral("unknown device");
}

QString hexByte(std::uint8_t byte) {
    return QStringLiteral("0x%1").arg(
        QString::number(byte, 16).rightJustified(2, QLatin1Char('0')).toUpper());
}

QString frameText(const std::vector<std::uint8_t>& frame) {
    QStringList parts;
    for (std::uint8_t b : frame)
        parts << hexByte(b);
    return parts.join(QLatin1Char(' '));
}

// The flags of SR0 in words.
QString flagWords(const ChipStatus& status) {
    QStringList words;
    if (status.refused())
        words << QStringLiteral("the last command was refused");
    if (status.full())
        words << QStringLiteral("the memory is full");
    words << (status.poweredUp() ? QStringLiteral("powered up") : QStringLiteral("powered down"));
    if (status.endOfMessage())
        words << QStringLiteral("an end-of-message marker was reached");
    if (status.interrupt())
        words << QStringLiteral("an operation has finished");
    return words.join(QStringLiteral("; "));
}

QJsonObject statusJson(const ChipStatus& status) {
    QJsonObject o;
    o[QStringLiteral("flags")] = QJsonArray::fromStringList(status.flagNames());
    o[QStringLiteral("cmdErr")] = status.refused();
    o[QStringLiteral("full")] = status.full();
    o[QStringLiteral("poweredUp")] = status.poweredUp();
    o[QStringLiteral("eom")] = status.endOfMessage();
    o[QStringLiteral("int")] = status.interrupt();
    if (const auto row = status.row())
        o[QStringLiteral("row")] = rowText(*row);
    return o;
}

int exitCodeOf(ChipError error) {
    return error == ChipError::Refused ? Refused : NoReply;
}

bool isNumber(const QString& text) {
    static const QRegularExpression digits(QStringLiteral("^[0-9]+$"));
    return digits.match(text).hasMatch();
}

} // namespace

Session::Session(Options options, QObject* parent) : QObject(parent), options_(std::move(options)) {
    clock_.start();
    recordTimer_.setSingleShot(true);
    recordTimer_.setTimerType(Qt::PreciseTimer);
    connect(&recordTimer_, &QTimer::timeout, this, &Session::stopRecording);
    interruptPoll_.setInterval(20);
    connect(&interruptPoll_, &QTimer::timeout, this, [this] {
        if (recording_ && interrupted.exchange(false)) {
            stopRecording();
            return;
        }
        if (recording_)
            showRecordingProgress();
    });
    json_[QStringLiteral("command")] = options_.subcommand;
}

Session::~Session() = default;

void Session::say(const QString& line) {
    endProgress();
    if (options_.json)
        return;
    out() << line << '\n';
    out().flush();
}

void Session::progress(const QString& text) {
    if (options_.verbose || !::isatty(STDERR_FILENO))
        return;
    err() << '\r' << text << "\x1b[K";
    err().flush();
    progressShown_ = true;
}

void Session::endProgress() {
    if (!progressShown_)
        return;
    err() << "\r\x1b[K";
    err().flush();
    progressShown_ = false;
}

void Session::finish(int code, const QString& errorText) {
    if (finished_)
        return;
    finished_ = true;
    endProgress();
    exitCode_ = code;
    if (!errorText.isEmpty())
        err() << errorText << '\n';
    err().flush();
    if (options_.json) {
        json_[QStringLiteral("ok")] = code == Done;
        json_[QStringLiteral("exitCode")] = code;
        if (!errorText.isEmpty())
            json_[QStringLiteral("error")] = errorText;
        out() << QJsonDocument(json_).toJson(QJsonDocument::Indented);
        out().flush();
    }
    if (client_)
        client_->end(); // nothing more goes out, not even the rest of a frame
    QCoreApplication::exit(code);
}

void Session::failWith(const ChipResult& result) {
    json_[QStringLiteral("failure")] = chipErrorName(result.error);
    finish(exitCodeOf(result.error), QStringLiteral("%1: %2").arg(label_, result.errorText));
}

void Session::exchange(std::vector<std::uint8_t> frame, bool confirm, Next next) {
    client_->submit({std::move(frame), confirm},
                    [this, next = std::move(next)](const ChipResult& r) {
                        if (finished_)
                            return;
                        if (!r.ok()) {
                            failWith(r);
                            return;
                        }
                        next(r);
                    });
}

int Session::run() {
    const SubcommandInfo* info = findSubcommand(options_.subcommand);
    if (!info) {
        finish(Usage,
               QStringLiteral("tamberlo-cli: unknown command '%1'").arg(options_.subcommand));
        return exitCode_;
    }
    if (options_.subcommand == QLatin1String("ports"))
        return listPorts();

    // Rows are checked for their form before anything is opened.
    if (options_.arguments.size() == 2 && info->synopsis == QLatin1String("START END")) {
        for (const QString& text : std::as_const(options_.arguments)) {
            QString why;
            if (!parseRow(text, nullptr, &why)) {
                label_ = QStringLiteral("tamberlo-cli");
                finish(Usage, QStringLiteral("tamberlo-cli: %1").arg(why));
                return exitCode_;
            }
        }
        const auto start = parseRow(options_.arguments[0]);
        const auto end = parseRow(options_.arguments[1]);
        if (*start > *end) {
            finish(Usage, QStringLiteral("tamberlo-cli: START (%1) is after END (%2)")
                              .arg(rowText(*start), rowText(*end)));
            return exitCode_;
        }
    }

    if (const int code = openPort(); code != Done)
        return code;

    if (info->destructive && !options_.yes) {
        const QString question =
            info->name == QLatin1String("erase-all")
                ? QStringLiteral("Erase every message in the chip on %1?").arg(label_)
                : QStringLiteral("Erase rows %1 to %2 of the chip on %3?")
                      .arg(options_.arguments[0], options_.arguments[1], label_);
        if (!confirmDestructive(question))
            return exitCode_;
    }

    client_ = std::make_unique<ChipClient>(port_);
    client_->setTimeoutMs(options_.timeoutMs);
    if (options_.verbose) {
        // Milliseconds since the program started, on the client's monotonic clock.
        const qint64 startNs = client_->now() - clock_.nsecsElapsed();
        const auto stamp = [startNs](qint64 ns) {
            return QStringLiteral("%1 ms").arg(double(ns - startNs) / NsPerMs, 10, 'f', 3);
        };
        connect(client_.get(), &ChipClient::byteWritten, this, [stamp](std::uint8_t b, qint64 ns) {
            err() << stamp(ns) << "  > " << hexByte(b) << '\n';
            err().flush();
        });
        connect(client_.get(), &ChipClient::byteRead, this, [stamp](std::uint8_t b, qint64 ns) {
            err() << stamp(ns) << "  < " << hexByte(b) << '\n';
            err().flush();
        });
        connect(client_.get(), &ChipClient::strayBytes, this, [this, stamp](int count) {
            err() << stamp(client_->now()) << "  " << count << " stray byte(s) dropped\n";
            err().flush();
        });
    }
    // A device lost while nothing is in flight (during a recording) ends the run too; with a
    // command in flight the client reports it through that command.
    connect(&port_, &SerialPort::communication, this, [this](CommEvent kind) {
        if (kind == CommEvent::DeviceLost && !finished_ && client_ && client_->isIdle() &&
            !extension_)
            finish(NoReply, QStringLiteral("%1: the device went away").arg(label_));
    });

    QMetaObject::invokeMethod(this, &Session::start, Qt::QueuedConnection);
    QCoreApplication::exec();
    return exitCode_;
}

int Session::openPort() {
    json_[QStringLiteral("port")] = options_.port;
    if (isNumber(options_.port)) {
        QString why;
        const std::optional<std::int16_t> number = parsePortNumber(options_.port, &why);
        if (!number) {
            finish(Usage,
                   QStringLiteral("tamberlo-cli: --port %1 is not a port number (1 to 32767)")
                       .arg(options_.port));
            return exitCode_;
        }
        label_ = QStringLiteral("port %1").arg(*number);
        const PortDevice device = resolvePortLinkFirst(*number);
        if (device.location.isEmpty()) {
            finish(PortNotOpened,
                   QStringLiteral("%1: no serial device has this number (see tamberlo-cli ports)")
                       .arg(label_));
            return exitCode_;
        }
        if (!device.exists && !device.link.isEmpty()) {
            finish(PortNotOpened,
                   QStringLiteral("%1: the link %2 leads to %3, which does not exist")
                       .arg(label_, device.link, device.location));
            return exitCode_;
        }
        label_ = QStringLiteral("port %1 (%2)").arg(*number).arg(device.location);
        port_.setPortNumber(*number);
        port_.setDevicePath(device.location); // resolved once, here
    } else if (options_.port.contains(QLatin1Char('/'))) {
        label_ = options_.port;
        port_.setDevicePath(options_.port);
    } else {
        finish(Usage,
               QStringLiteral("tamberlo-cli: --port takes a number or a device path, not '%1'")
                   .arg(options_.port));
        return exitCode_;
    }
    if (!port_.open()) {
        const QString reason =
            port_.systemErrorText().isEmpty() ? port_.errorText() : port_.systemErrorText();
        finish(PortNotOpened, QStringLiteral("%1: cannot open the device: %2").arg(label_, reason));
        return exitCode_;
    }
    if (isNumber(options_.port))
        label_ = QStringLiteral("port %1 (%2)").arg(options_.port, port_.deviceLocation());
    json_[QStringLiteral("device")] = port_.deviceLocation();
    return Done;
}

bool Session::confirmDestructive(const QString& question) {
    if (!::isatty(STDIN_FILENO)) {
        finish(Usage, QStringLiteral("tamberlo-cli: %1 erases the chip's memory; standard input is "
                                     "not a terminal, so give --yes to confirm")
                          .arg(options_.subcommand));
        return false;
    }
    err() << question << " [y/N] ";
    err().flush();
    QTextStream in(stdin);
    const QString answer = in.readLine().trimmed().toLower();
    if (answer == QLatin1String("y") || answer == QLatin1String("yes"))
        return true;
    finish(Usage, QStringLiteral("tamberlo-cli: not confirmed; nothing sent"));
    return false;
}

int Session::listPorts() {
    const QList<SerialDevice> devices = presentSerialDevices();
    QList<int> numbers;
    for (int n = 1; n <= 16; ++n)
        numbers << n;
    // Port links under other numbers too.
    const QDir links(QFileInfo(portLinkPath(1)).absolutePath());
    static const QRegularExpression linkName(QStringLiteral("^port([0-9]+)$"));
    for (const QFileInfo& entry :
         links.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot)) {
        const QRegularExpressionMatch m = linkName.match(entry.fileName());
        bool ok = false;
        const int n = m.hasMatch() ? m.captured(1).toInt(&ok) : 0;
        if (ok && n >= 0 && n <= 32767 && !numbers.contains(n))
            numbers << n;
    }
    std::sort(numbers.begin(), numbers.end());
    QJsonArray list;
    for (int n : std::as_const(numbers)) {
        const PortDevice device = resolvePort(static_cast<std::int16_t>(n), devices);
        QString text;
        if (device.location.isEmpty())
            text = QStringLiteral("no device");
        else if (!device.link.isEmpty() && !device.exists)
            text = QStringLiteral("%1, which does not exist (link %2)")
                       .arg(device.location, device.link);
        else if (!device.link.isEmpty())
            text = QStringLiteral("%1 (link %2)").arg(device.location, device.link);
        else if (!device.detail.isEmpty())
            text = QStringLiteral("%1 (%2)").arg(device.location, device.detail);
        else
            text = device.location;
        say(QStringLiteral("%1  %2").arg(QString::number(n).rightJustified(5), text));
        QJsonObject o;
        o[QStringLiteral("port")] = n;
        o[QStringLiteral("device")] = device.location;
        o[QStringLiteral("link")] = device.link;
        o[QStringLiteral("exists")] = device.exists;
        if (device.exists && device.link.isEmpty())
            o[QStringLiteral("description")] = device.detail;
        list.append(o);
    }
    json_[QStringLiteral("ports")] = list;
    if (options_.json) {
        json_[QStringLiteral("ok")] = true;
        json_[QStringLiteral("exitCode")] = 0;
        out() << QJsonDocument(json_).toJson(QJsonDocument::Indented);
        out().flush();
    }
    return Done;
}

void Session::start() {
    const QString& c = options_.subcommand;
    if (c == QLatin1String("init"))
        runInit();
    else if (c == QLatin1String("id"))
        runId();
    else if (c == QLatin1String("status"))
        runStatus();
    else if (c == QLatin1String("play"))
        runSimple(Opcode::PLAY, QStringLiteral("playing"));
    else if (c == QLatin1String("stop"))
        runSimple(Opcode::STOP, QStringLiteral("stopped"));
    else if (c == QLatin1String("record"))
        runRecord();
    else if (c == QLatin1String("fwd"))
        runFwd();
    else if (c == QLatin1String("erase"))
        runSimple(Opcode::ERASE, QStringLiteral("erased the message at the play pointer"));
    else if (c == QLatin1String("erase-all"))
        runSimple(Opcode::G_ERASE, QStringLiteral("erased every message"));
    else if (c == QLatin1String("set-play"))
        runRange(Opcode::SET_PLAY);
    else if (c == QLatin1String("set-rec"))
        runRange(Opcode::SET_REC);
    else if (c == QLatin1String("set-erase"))
        runRange(Opcode::SET_ERASE);
    else if (c == QLatin1String("apc"))
        runApc();
    else if (c == QLatin1String("map"))
        runMap();
    else if (extension_)
        extension_(*this);
    else
        finish(Usage, QStringLiteral("tamberlo-cli: unknown command '%1'").arg(c));
}

void Session::runInit() {
    exchange(singleFrame(Opcode::RESET), false, [this](const ChipResult&) {
        // PU is confirmed by the DEVID read that follows it: that read is the device ID.
        exchange(singleFrame(Opcode::PU), true, [this](const ChipResult& r) {
            const DecodedReply& id = r.confirmationReply;
            json_[QStringLiteral("model")] = r.model ? modelName(r.model) : QJsonValue();
            json_[QStringLiteral("deviceId")] = hexByte(id.deviceId.value_or(0));
            if (r.model)
                json_[QStringLiteral("lastRow")] = rowText(r.model->lastRow);
            if (r.confirmation)
                json_[QStringLiteral("status")] = statusJson(*r.confirmation);
            say(QStringLiteral("reset and powered up: %1 (device ID %2%3)")
                    .arg(modelName(r.model), hexByte(id.deviceId.value_or(0)),
                         r.model ? QStringLiteral(", last row %1").arg(rowText(r.model->lastRow))
                                 : QString()));
            finish(Done);
        });
    });
}

void Session::runId() {
    exchange(singleFrame(Opcode::DEVID), false, [this](const ChipResult& r) {
        const std::uint8_t id = r.decoded.deviceId.value_or(0);
        json_[QStringLiteral("model")] = r.model ? modelName(r.model) : QJsonValue();
        json_[QStringLiteral("deviceId")] = hexByte(id);
        if (r.model)
            json_[QStringLiteral("lastRow")] = rowText(r.model->lastRow);
        if (r.decoded.status)
            json_[QStringLiteral("status")] = statusJson(*r.decoded.status);
        say(QStringLiteral("%1 (device ID %2%3)")
                .arg(modelName(r.model), hexByte(id),
                     r.model ? QStringLiteral(", last row %1").arg(rowText(r.model->lastRow))
                             : QString()));
        finish(Done);
    });
}

void Session::runStatus() {
    exchange(singleFrame(Opcode::DEVID), false, [this](const ChipResult& id) {
        const ChipStatus status = id.decoded.status.value_or(ChipStatus{});
        exchange(
            singleFrame(Opcode::RD_PLAY_PTR), false, [this, id, status](const ChipResult& play) {
                exchange(
                    singleFrame(Opcode::RD_REC_PTR), false,
                    [this, id, status, play](const ChipResult& rec) {
                        exchange(
                            singleFrame(Opcode::CurrentAddress), false,
                            [this, id, status, play, rec](const ChipResult& cur) {
                                const CurrentAddress address =
                                    cur.decoded.address.value_or(CurrentAddress{});
                                const std::uint16_t playPtr = play.decoded.pointer.value_or(0);
                                const std::uint16_t recPtr = rec.decoded.pointer.value_or(0);
                                json_[QStringLiteral("model")] =
                                    id.model ? modelName(id.model) : QJsonValue();
                                json_[QStringLiteral("deviceId")] =
                                    hexByte(id.decoded.deviceId.value_or(0));
                                json_[QStringLiteral("status")] = statusJson(status);
                                json_[QStringLiteral("playPointer")] = rowText(playPtr);
                                json_[QStringLiteral("recordPointer")] = rowText(recPtr);
                                json_[QStringLiteral("currentAddress")] = rowText(address.row);
                                json_[QStringLiteral("activity")] = address.activity();
                                const QStringList names = status.flagNames();
                                say(QStringLiteral("device           %1 (device ID %2)")
                                        .arg(modelName(id.model),
                                             hexByte(id.decoded.deviceId.value_or(0))));
                                say(QStringLiteral("flags            %1: %2")
                                        .arg(names.isEmpty() ? QStringLiteral("none")
                                                             : names.join(QLatin1Char(' ')),
                                             flagWords(status)));
                                say(QStringLiteral("play pointer     %1").arg(rowText(playPtr)));
                                say(QStringLiteral("record pointer   %1").arg(rowText(recPtr)));
                                say(QStringLiteral("current address  %1, %2")
                                        .arg(rowText(address.row), address.activity()));
                                finish(Done);
                            });
                    });
            });
    });
}

void Session::runSimple(std::uint8_t opcode, const QString& doneText) {
    exchange(singleFrame(opcode), true, [this, opcode, doneText](const ChipResult& r) {
        if (r.confirmation)
            json_[QStringLiteral("status")] = statusJson(*r.confirmation);
        const auto report = [this, doneText] {
            say(doneText);
            finish(Done);
        };
        if (opcode == Opcode::ERASE || opcode == Opcode::G_ERASE)
            waitForErase(EraseWaitReads, report);
        else
            report();
    });
}

void Session::waitForErase(int readsLeft, std::function<void()> then) {
    // An erase keeps the chip busy for a while; "erased" means it has finished, so that the
    // next command (of this run or the next) is not refused for it.
    exchange(singleFrame(Opcode::CurrentAddress), false,
             [this, readsLeft, then = std::move(then)](const ChipResult& r) {
                 if (r.decoded.address && r.decoded.address->erasing()) {
                     if (readsLeft <= 1) {
                         finish(NoReply,
                                QStringLiteral("%1: the chip is still erasing").arg(label_));
                         return;
                     }
                     waitForErase(readsLeft - 1, then);
                     return;
                 }
                 then();
             });
}

void Session::runFwd() {
    exchange(singleFrame(Opcode::FWD), true, [this](const ChipResult&) {
        exchange(singleFrame(Opcode::RD_PLAY_PTR), false, [this](const ChipResult& r) {
            const std::uint16_t pointer = r.decoded.pointer.value_or(0);
            json_[QStringLiteral("playPointer")] = rowText(pointer);
            say(QStringLiteral("play pointer at %1").arg(rowText(pointer)));
            finish(Done);
        });
    });
}

void Session::runRecord() {
    // Ctrl-C and SIGTERM are caught from before REC goes out: one that comes while REC and
    // its status read are under way stops the recording as soon as REC is confirmed.
    interrupted.store(false);
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
    exchange(singleFrame(Opcode::REC), true, [this](const ChipResult& r) {
        recording_ = true;
        recordStartNs_ = r.lastByteNs;
        interruptPoll_.start();
        if (interrupted.exchange(false)) {
            stopRecording();
            return;
        }
        if (options_.seconds) {
            const qint64 elapsedMs = (client_->now() - recordStartNs_) / NsPerMs;
            const qint64 left = qint64(*options_.seconds * 1000.0) - elapsedMs;
            recordTimer_.start(static_cast<int>(std::max<qint64>(0, left)));
        }
        showRecordingProgress();
    });
}

void Session::showRecordingProgress() {
    const double elapsed = double(client_->now() - recordStartNs_) / 1e9;
    if (!options_.seconds) {
        progress(QStringLiteral("recording %1 s (Ctrl-C stops)").arg(elapsed, 0, 'f', 1));
        return;
    }
    constexpr int Width = 30;
    const double total = *options_.seconds;
    const int filled = std::clamp(int(elapsed / total * Width), 0, Width);
    progress(QStringLiteral("recording [%1%2] %3/%4 s")
                 .arg(QString(filled, QLatin1Char('#')), QString(Width - filled, QLatin1Char('-')))
                 .arg(std::min(elapsed, total), 0, 'f', 1)
                 .arg(total, 0, 'f', 1));
}

void Session::stopRecording() {
    if (!recording_ || finished_)
        return;
    recording_ = false;
    recordTimer_.stop();
    interruptPoll_.stop();
    exchange(singleFrame(Opcode::STOP), true, [this](const ChipResult& stop) {
        const double elapsed = double(stop.lastByteNs - recordStartNs_) / 1e9;
        const ChipStatus status = stop.confirmation.value_or(ChipStatus{});
        const ChipModelRow* model = stop.model;
        exchange(
            singleFrame(Opcode::RD_PLAY_PTR), false,
            [this, elapsed, status, model](const ChipResult& play) {
                exchange(
                    singleFrame(Opcode::RD_REC_PTR), false,
                    [this, elapsed, status, model, play](const ChipResult& rec) {
                        const std::uint16_t start = play.decoded.pointer.value_or(0);
                        const std::uint16_t next = rec.decoded.pointer.value_or(0);
                        const RecordedLength length =
                            recordedLength(start, next, status.full(), model, elapsed);
                        json_[QStringLiteral("seconds")] = length.seconds;
                        json_[QStringLiteral("start")] = rowText(start);
                        json_[QStringLiteral("recordPointer")] = rowText(next);
                        json_[QStringLiteral("full")] = status.full();
                        if (length.rows >= 0)
                            json_[QStringLiteral("rows")] = length.rows;
                        QString what =
                            QStringLiteral("recorded %1 s").arg(length.seconds, 0, 'f', 2);
                        if (status.full()) {
                            what += QStringLiteral(", up to the end of the free memory (the chip "
                                                   "stopped by itself: it is full");
                            if (options_.seconds)
                                what += QStringLiteral("; %1 s were asked for")
                                            .arg(*options_.seconds, 0, 'f', 2);
                            what += QLatin1Char(')');
                        }
                        say(QStringLiteral("%1: the message starts at %2; record pointer now %3")
                                .arg(what, rowText(start), rowText(next)));
                        finish(Done);
                    });
            });
    });
}

Session::RecordedLength Session::recordedLength(std::uint16_t start, std::uint16_t next, bool full,
                                                const ChipModelRow* model, double elapsed) {
    // The message runs from the play pointer to the row before the record pointer, round
    // the ring of message rows; the chip records a row per 125 ms at its usual 8 kHz.
    constexpr std::uint16_t FirstMessageRow = 0x010;
    constexpr double RowSeconds = 0.125;
    if (!model || model->lastRow < FirstMessageRow || start < FirstMessageRow ||
        next < FirstMessageRow || start > model->lastRow || next > model->lastRow)
        return {elapsed, -1};
    const int ring = model->lastRow - FirstMessageRow + 1;
    int rows = ((next - start) % ring + ring) % ring;
    if (rows == 0 && full)
        rows = ring;
    const double held = rows * RowSeconds;
    // Not full: the clock is finer than the rows, but never more than the chip holds. Full:
    // the chip stopped before STOP, and what it holds is all there is.
    return {full ? held : std::min(elapsed, held), rows};
}

void Session::runRange(std::uint8_t opcode) {
    // The model bounds the rows: read it first.
    exchange(singleFrame(Opcode::DEVID), false, [this, opcode](const ChipResult& id) {
        QString why;
        const auto start = parseRow(options_.arguments[0], id.model, &why);
        const auto end = start ? parseRow(options_.arguments[1], id.model, &why) : std::nullopt;
        if (!start || !end) {
            finish(Usage, QStringLiteral("%1: %2").arg(label_, why));
            return;
        }
        exchange(
            rangeFrame(opcode, *start, *end), true,
            [this, opcode, start, end](const ChipResult& r) {
                json_[QStringLiteral("start")] = rowText(*start);
                json_[QStringLiteral("end")] = rowText(*end);
                if (r.confirmation)
                    json_[QStringLiteral("status")] = statusJson(*r.confirmation);
                const QString verb = opcode == Opcode::SET_PLAY  ? QStringLiteral("playing")
                                     : opcode == Opcode::SET_REC ? QStringLiteral("recording into")
                                                                 : QStringLiteral("erased");
                const QString text =
                    QStringLiteral("%1 rows %2 to %3").arg(verb, rowText(*start), rowText(*end));
                if (opcode == Opcode::SET_ERASE) {
                    waitForErase(EraseWaitReads, [this, text] {
                        say(text);
                        finish(Done);
                    });
                    return;
                }
                say(text);
                finish(Done);
            });
    });
}

void Session::runApc() {
    AnalogPathSettings settings;
    settings.VolLevel = static_cast<std::uint8_t>(options_.volume);
    settings.speakerOn = options_.speaker;
    settings.monitorOn = options_.monitor;
    settings.source = options_.source;
    const std::array<std::uint8_t, 3> apc = apcFrame(settings);
    const std::vector<std::uint8_t> frame(apc.begin(), apc.end());
    exchange(frame, true, [this, frame](const ChipResult&) {
        json_[QStringLiteral("frame")] = frameText(frame);
        json_[QStringLiteral("volume")] = options_.volume;
        json_[QStringLiteral("source")] = options_.source;
        json_[QStringLiteral("monitor")] = options_.monitor;
        json_[QStringLiteral("speaker")] = options_.speaker;
        say(QStringLiteral("analog path written (%1): volume %2, source %3, monitor %4, speaker %5")
                .arg(frameText(frame))
                .arg(options_.volume)
                .arg(options_.source,
                     options_.monitor ? QStringLiteral("on") : QStringLiteral("off"),
                     options_.speaker ? QStringLiteral("on") : QStringLiteral("off")));
        finish(Done);
    });
}

void Session::runMap() {
    mapper_ = std::make_unique<ChipMapper>(*client_);
    connect(mapper_.get(), &ChipMapper::progress, this, [this](int found, int bound) {
        progress(
            QStringLiteral("mapping: %1 message(s) so far (at most %2)").arg(found).arg(bound));
    });
    connect(mapper_.get(), &ChipMapper::finished, this, [this](const MessageMap& map) {
        if (finished_)
            return;
        if (!map.ok()) {
            json_[QStringLiteral("failure")] = chipErrorName(map.error);
            finish(exitCodeOf(map.error), QStringLiteral("%1: map: %2").arg(label_, map.errorText));
            return;
        }
        json_[QStringLiteral("model")] = map.model ? modelName(map.model) : QJsonValue();
        QJsonArray messages;
        int index = 0;
        for (std::uint16_t start : map.starts) {
            QJsonObject m;
            m[QStringLiteral("index")] = ++index;
            m[QStringLiteral("start")] = rowText(start);
            messages.append(m);
        }
        json_[QStringLiteral("messages")] = messages;
        json_[QStringLiteral("recordPointer")] = rowText(map.recordPointer);
        json_[QStringLiteral("frames")] = map.frames;
        endProgress();
        say(QStringLiteral("%1: %2 message%3")
                .arg(modelName(map.model))
                .arg(map.starts.size())
                .arg(map.starts.size() == 1 ? QString() : QStringLiteral("s")));
        index = 0;
        for (std::uint16_t start : map.starts)
            say(QStringLiteral("%1  %2").arg(QString::number(++index).rightJustified(5),
                                             rowText(start)));
        say(QStringLiteral("record pointer %1").arg(rowText(map.recordPointer)));
        finish(Done);
    });
    mapper_->start();
}

} // namespace tamberlo::cli
