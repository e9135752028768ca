// The chip commands of tamberlo-cli: each a handler in the command table, driving the chip
// through the session's chip operations and handing its results to the session's text and
// JSON.

#include "chip/AnalogPath.h"
#include "chip/Catalogue.h"
#include "chip/ChipMap.h"
#include "cli/CliSession.h"
#include "codec/HexText.h"
#include "link/PortResolver.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QRegularExpression>
#include <algorithm>
#include <cmath>

namespace tamberlo::cli {

namespace {

// Port numbers `ports` always lists.
constexpr int ListedPorts = 16;

QString modelName(const ChipModel* model) {
    return model ? model->nameText() : QStringLiteral("unknown device");
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

// The model, its device ID and its last row, as init and id report them.
QString describeModel(Session& s, const ChipModel* model, std::uint8_t id) {
    QJsonObject& j = s.json();
    j[QStringLiteral("model")] = model ? modelName(model) : QJsonValue();
    putByte(j, QStringLiteral("device_id"), id);
    if (model)
        putRow(j, QStringLiteral("last_row"), model->lastRow);
    return QStringLiteral("%1 (device ID %2%3)")
        .arg(modelName(model), hexByte(id),
             model ? QStringLiteral(", last row %1").arg(rowText(model->lastRow)) : QString());
}

// A one-byte command the chip may refuse, then `doneText`; erases are waited for.
void simple(Session& s, std::uint8_t opcode, const QString& doneText) {
    s.chip().submit(singleFrame(opcode), true, [&s, opcode, doneText](const ChipResult& r) {
        if (r.confirmation)
            s.json()[QStringLiteral("status")] = statusJson(*r.confirmation);
        const auto report = [&s, doneText](const ChipResult&) {
            s.say(doneText);
            s.finish(Done);
        };
        if (opcode == Opcode::ERASE || opcode == Opcode::G_ERASE)
            s.chip().waitWhileErasing(report);
        else
            report(r);
    });
}

// SET_PLAY, SET_REC or SET_ERASE with the two rows given, checked against the chip's model.
void range(Session& s, std::uint8_t opcode) {
    s.chip().submit(singleFrame(Opcode::DEVID), false, [&s, opcode](const ChipResult& id) {
        const QStringList& args = s.options().arguments;
        QString why;
        const auto start = parseRow(args[0], id.model, &why);
        const auto end = start ? parseRow(args[1], id.model, &why) : std::nullopt;
        if (!start || !end) {
            s.finish(Usage, QStringLiteral("%1: %2").arg(s.label(), why));
            return;
        }
        s.chip().submit(
            rangeFrame(opcode, *start, *end), true, [&s, opcode, start, end](const ChipResult& r) {
                putRow(s.json(), QStringLiteral("start"), *start);
                putRow(s.json(), QStringLiteral("end"), *end);
                if (r.confirmation)
                    s.json()[QStringLiteral("status")] = statusJson(*r.confirmation);
                const QString verb = opcode == Opcode::SET_PLAY  ? QStringLiteral("playing")
                                     : opcode == Opcode::SET_REC ? QStringLiteral("recording into")
                                                                 : QStringLiteral("erased");
                const QString text =
                    QStringLiteral("%1 rows %2 to %3").arg(verb, rowText(*start), rowText(*end));
                const auto report = [&s, text](const ChipResult&) {
                    s.say(text);
                    s.finish(Done);
                };
                if (opcode == Opcode::SET_ERASE)
                    s.chip().waitWhileErasing(report);
                else
                    report(r);
            });
    });
}

// What a recording left in the chip: its length in seconds and rows (-1 when the model or
// the pointers do not tell), from the play pointer (the message's start), the record pointer
// (the row after it) and FULL; `elapsed` is REC to STOP on the clock.
struct RecordedLength {
    double seconds = 0;
    int rows = -1;
};

RecordedLength recordedLength(std::uint16_t start, std::uint16_t next, bool full,
                              const ChipModel* model, double elapsed) {
    // The message runs from the play pointer to the row before the record pointer, round
    // the ring of message rows; the chip records a row per 125 ms at its usual 8 kHz.
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

// record: REC, then STOP after --seconds or on Ctrl-C, then what the chip holds.
class Recording : public QObject {
public:
    explicit Recording(Session& s) : QObject(&s), s_(s) {
        timer_.setSingleShot(true);
        timer_.setTimerType(Qt::PreciseTimer);
        connect(&timer_, &QTimer::timeout, this, &Recording::stop);
        tick_.setInterval(100);
        connect(&tick_, &QTimer::timeout, this, &Recording::showProgress);
    }

    void start() {
        // Ctrl-C and SIGTERM are caught from before REC goes out: one that comes while REC
        // and its status read are under way stops the recording once REC is confirmed.
        s_.onInterrupt([this] { interrupted_ = true, stop(); });
        s_.chip().submit(
            singleFrame(Opcode::REC), true, [this](const ChipResult& r) { started(r); },
            [this](const ChipResult& r) { recFailed(r); });
    }

private:
    void started(const ChipResult& r) {
        recording_ = true;
        startNs_ = r.lastByteNs;
        if (interrupted_) {
            stop();
            return;
        }
        if (const auto seconds = s_.options().seconds) {
            const qint64 elapsedMs = (s_.client().now() - startNs_) / NsPerMs;
            const qint64 left = qint64(*seconds * 1000.0) - elapsedMs;
            timer_.start(static_cast<int>(std::max<qint64>(0, left)));
        }
        tick_.start();
        showProgress();
    }

    // REC without a reply may still have started a recording: STOP goes out before the run
    // ends. A refused REC started nothing, and a lost device takes nothing more.
    void recFailed(const ChipResult& r) {
        if (r.error != ChipError::Timeout) {
            s_.fail(r);
            return;
        }
        s_.client().stopNow([this, r](const ChipResult&) { s_.fail(r); });
    }

    void showProgress() {
        const double elapsed = double(s_.client().now() - startNs_) / 1e9;
        const auto seconds = s_.options().seconds;
        if (!seconds) {
            s_.progress(QStringLiteral("recording %1 s (Ctrl-C stops)").arg(elapsed, 0, 'f', 1));
            return;
        }
        const double shown = std::min(elapsed, *seconds);
        s_.progress(
            progressText(QStringLiteral("recording "), shown / *seconds,
                         QStringLiteral(" %1/%2 s").arg(shown, 0, 'f', 1).arg(*seconds, 0, 'f', 1),
                         ProgressLine::terminalWidth()));
    }

    void stop() {
        if (!recording_ || s_.isFinished())
            return;
        recording_ = false;
        timer_.stop();
        tick_.stop();
        if (const auto seconds = s_.options().seconds; seconds && !interrupted_) {
            // The bar ends full when the time asked for is up.
            s_.progress(progressText(QStringLiteral("recording "), 1.0,
                                     QStringLiteral(" %1/%1 s").arg(*seconds, 0, 'f', 1),
                                     ProgressLine::terminalWidth()));
        }
        s_.chip().submit(singleFrame(Opcode::STOP), true, [this](const ChipResult& stop) {
            const double elapsed = double(stop.lastByteNs - startNs_) / 1e9;
            const ChipStatus status = stop.confirmation.value_or(ChipStatus{});
            const ChipModel* model = stop.model;
            s_.chip().submit(singleFrame(Opcode::RD_PLAY_PTR), false,
                             [this, elapsed, status, model](const ChipResult& play) {
                                 s_.chip().submit(
                                     singleFrame(Opcode::RD_REC_PTR), false,
                                     [this, elapsed, status, model, play](const ChipResult& rec) {
                                         report(elapsed, status, model,
                                                play.decoded.pointer.value_or(0),
                                                rec.decoded.pointer.value_or(0));
                                     });
                             });
        });
    }

    void report(double elapsed, const ChipStatus& status, const ChipModel* model,
                std::uint16_t start, std::uint16_t next) {
        const RecordedLength length = recordedLength(start, next, status.full(), model, elapsed);
        QJsonObject& j = s_.json();
        j[QStringLiteral("seconds")] = length.seconds;
        putRow(j, QStringLiteral("start"), start);
        putRow(j, QStringLiteral("record_pointer"), next);
        j[QStringLiteral("full")] = status.full();
        if (length.rows >= 0)
            j[QStringLiteral("rows")] = length.rows;
        QString what = QStringLiteral("recorded %1 s").arg(length.seconds, 0, 'f', 2);
        if (status.full()) {
            what += QStringLiteral(", up to the end of the free memory (the chip stopped by "
                                   "itself: it is full");
            if (const auto seconds = s_.options().seconds)
                what += QStringLiteral("; %1 s were asked for").arg(*seconds, 0, 'f', 2);
            what += QLatin1Char(')');
        }
        s_.say(QStringLiteral("%1: the message starts at %2; record pointer now %3")
                   .arg(what, rowText(start), rowText(next)));
        s_.finish(Done);
    }

    Session& s_;
    QTimer timer_;
    QTimer tick_;
    qint64 startNs_ = 0;
    bool recording_ = false;
    bool interrupted_ = false;
};

} // namespace

namespace handlers {

void ports(Session& s) {
    const QList<SerialDevice> devices = presentSerialDevices();
    QList<int> numbers;
    for (int n = LowestPortNumber; n <= ListedPorts; ++n)
        numbers << n;
    // Port links under other numbers too.
    const QDir links(QFileInfo(portLinkPath(1)).absolutePath());
    static const QRegularExpression linkName(QStringLiteral("^port([0-9]+)$"));
    for (const QFileInfo& entry :
         links.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot)) {
        const QRegularExpressionMatch m = linkName.match(entry.fileName());
        bool ok = false;
        const int n = m.hasMatch() ? m.captured(1).toInt(&ok) : 0;
        if (ok && n >= LowestPortNumber && n <= HighestPortNumber && !numbers.contains(n))
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
        s.say(QStringLiteral("%1  %2").arg(QString::number(n).rightJustified(5), text));
        QJsonObject o;
        o[QStringLiteral("port")] = n;
        o[QStringLiteral("device")] = device.location;
        o[QStringLiteral("link")] = device.link;
        o[QStringLiteral("exists")] = device.exists;
        if (device.exists && device.link.isEmpty())
            o[QStringLiteral("description")] = device.detail;
        list.append(o);
    }
    s.json()[QStringLiteral("ports")] = list;
    s.finish(Done);
}

void init(Session& s) {
    s.chip().submit(singleFrame(Opcode::RESET), false, [&s](const ChipResult&) {
        // PU is confirmed by the DEVID read that follows it: that read is the device ID.
        s.chip().submit(singleFrame(Opcode::PU), true, [&s](const ChipResult& r) {
            const QString model =
                describeModel(s, r.model, r.confirmationReply.deviceId.value_or(0));
            if (r.confirmation)
                s.json()[QStringLiteral("status")] = statusJson(*r.confirmation);
            s.say(QStringLiteral("reset and powered up: %1").arg(model));
            s.finish(Done);
        });
    });
}

void id(Session& s) {
    s.chip().submit(singleFrame(Opcode::DEVID), false, [&s](const ChipResult& r) {
        const QString model = describeModel(s, r.model, r.decoded.deviceId.value_or(0));
        if (r.decoded.status)
            s.json()[QStringLiteral("status")] = statusJson(*r.decoded.status);
        s.say(model);
        s.finish(Done);
    });
}

void status(Session& s) {
    s.chip().readSnapshot([&s](const ChipSnapshot& c) {
        QJsonObject& j = s.json();
        j[QStringLiteral("model")] = c.model ? modelName(c.model) : QJsonValue();
        putByte(j, QStringLiteral("device_id"), c.deviceId);
        j[QStringLiteral("status")] = statusJson(c.status);
        putRow(j, QStringLiteral("play_pointer"), c.playPointer);
        putRow(j, QStringLiteral("record_pointer"), c.recordPointer);
        putRow(j, QStringLiteral("current_address"), c.address.row);
        j[QStringLiteral("activity")] = c.address.activity();
        const QStringList names = c.status.flagNames();
        const QList<QStringList> rows{
            {QStringLiteral("device"),
             QStringLiteral("%1 (device ID %2)").arg(modelName(c.model), hexByte(c.deviceId))},
            {QStringLiteral("flags"),
             QStringLiteral("%1: %2").arg(names.isEmpty() ? QStringLiteral("none")
                                                          : names.join(QLatin1Char(' ')),
                                          flagWords(c.status))},
            {QStringLiteral("play pointer"), rowText(c.playPointer)},
            {QStringLiteral("record pointer"), rowText(c.recordPointer)},
            {QStringLiteral("current address"),
             QStringLiteral("%1, %2").arg(rowText(c.address.row), c.address.activity())}};
        for (const QStringList& row : rows)
            s.say(QStringLiteral("%1 %2").arg(padded(row[0], 16), row[1]));
        s.finish(Done);
    });
}

void play(Session& s) {
    simple(s, Opcode::PLAY, QStringLiteral("playing"));
}

void stop(Session& s) {
    simple(s, Opcode::STOP, QStringLiteral("stopped"));
}

void erase(Session& s) {
    simple(s, Opcode::ERASE, QStringLiteral("erased the message at the play pointer"));
}

void eraseAll(Session& s) {
    if (s.confirmDestructive(
            QStringLiteral("Erase every message in the chip on %1?").arg(s.label())))
        simple(s, Opcode::G_ERASE, QStringLiteral("erased every message"));
}

void record(Session& s) {
    (new Recording(s))->start();
}

void fwd(Session& s) {
    s.chip().submit(singleFrame(Opcode::FWD), true, [&s](const ChipResult&) {
        s.chip().submit(singleFrame(Opcode::RD_PLAY_PTR), false, [&s](const ChipResult& r) {
            const std::uint16_t pointer = r.decoded.pointer.value_or(0);
            putRow(s.json(), QStringLiteral("play_pointer"), pointer);
            s.say(QStringLiteral("play pointer at %1").arg(rowText(pointer)));
            s.finish(Done);
        });
    });
}

void setPlay(Session& s) {
    range(s, Opcode::SET_PLAY);
}

void setRec(Session& s) {
    range(s, Opcode::SET_REC);
}

void setErase(Session& s) {
    const QStringList& args = s.options().arguments;
    if (s.confirmDestructive(QStringLiteral("Erase rows %1 to %2 of the chip on %3?")
                                 .arg(args[0], args[1], s.label())))
        range(s, Opcode::SET_ERASE);
}

void apc(Session& s) {
    const Options& o = s.options();
    AnalogPathSettings settings;
    settings.VolLevel = static_cast<std::uint8_t>(o.volume);
    settings.speakerOn = o.speaker;
    settings.monitorOn = o.monitor;
    settings.source = o.source;
    const std::array<std::uint8_t, 3> apc = apcFrame(settings);
    const std::vector<std::uint8_t> frame(apc.begin(), apc.end());
    s.chip().submit(frame, true, [&s, frame](const ChipResult&) {
        const Options& o = s.options();
        QJsonObject& j = s.json();
        j[QStringLiteral("frame")] = hexBytes(frame);
        j[QStringLiteral("volume")] = o.volume;
        j[QStringLiteral("source")] = o.source;
        j[QStringLiteral("monitor")] = o.monitor;
        j[QStringLiteral("speaker")] = o.speaker;
        const auto onOff = [](bool on) {
            return on ? QStringLiteral("on") : QStringLiteral("off");
        };
        s.say(QStringLiteral("analog path written (%1): volume %2, source %3, monitor %4, "
                             "speaker %5")
                  .arg(hexBytes(frame))
                  .arg(o.volume)
                  .arg(o.source, onOff(o.monitor), onOff(o.speaker)));
        s.finish(Done);
    });
}

void map(Session& s) {
    auto* mapper = new ChipMapper(s.client(), &s);
    QObject::connect(mapper, &ChipMapper::progress, &s, [&s](int found, int bound) {
        s.progress(QStringLiteral("mapping: %1 so far (at most %2)")
                       .arg(counted(found, QStringLiteral("message"), QStringLiteral("messages")))
                       .arg(bound));
    });
    QObject::connect(mapper, &ChipMapper::finished, &s, [&s](const MessageMap& map) {
        if (s.isFinished())
            return;
        if (!map.ok()) {
            s.json()[QStringLiteral("failure")] = chipErrorName(map.error);
            s.finish(exitCodeOf(map.error),
                     QStringLiteral("%1: map: %2").arg(s.label(), map.errorText));
            return;
        }
        QJsonObject& j = s.json();
        j[QStringLiteral("model")] = map.model ? modelName(map.model) : QJsonValue();
        QJsonArray messages;
        QList<QStringList> rows;
        for (std::size_t i = 0; i < map.starts.size(); ++i) {
            QJsonObject m{{QStringLiteral("number"), int(i + 1)}};
            putRow(m, QStringLiteral("start"), map.starts[i]);
            messages.append(m);
            rows.append({QString::number(i + 1), rowText(map.starts[i])});
        }
        j[QStringLiteral("messages")] = messages;
        putRow(j, QStringLiteral("record_pointer"), map.recordPointer);
        j[QStringLiteral("frames")] = map.frames;
        s.say(QStringLiteral("%1: %2").arg(
            modelName(map.model), counted(qsizetype(map.starts.size()), QStringLiteral("message"),
                                          QStringLiteral("messages"))));
        for (const QStringList& row : std::as_const(rows))
            s.say(QStringLiteral("%1  %2").arg(padded(row[0], 5, true), row[1]));
        s.say(QStringLiteral("record pointer %1").arg(rowText(map.recordPointer)));
        s.finish(Done);
    });
    mapper->start();
}

void help(Session& s) {
    const QString name = s.options().arguments.value(0);
    const Command* command = name.isEmpty() ? nullptr : findCommand(name);
    if (!name.isEmpty() && !command) {
        s.finish(Usage,
                 QStringLiteral("tamberlo-cli: unknown command '%1' (try --help)").arg(name));
        return;
    }
    out() << (command ? commandHelp(*command) : mainHelp());
    out().flush();
    s.finish(Done);
}

} // namespace handlers

} // namespace tamberlo::cli
