#include "cli/CliPlan.h"

#include "audio/AudioOutputs.h"
#include "chip/Catalogue.h"
#include "chip/ChipReply.h"
#include "codec/HexText.h"
#include "plan/Export.h"
#include "plan/Measure.h"
#include "plan/PlanRun.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLoggingCategory>
#include <QTextStream>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace tamberlo::cli {

using namespace tamberlo::plan;

namespace {

// --verbose=2: the audio libraries may say what they like.
bool audioChatter(const Options& options) {
    return options.verbose >= 2;
}

QString seconds(std::int64_t ms) {
    return QStringLiteral("%1 s").arg(double(ms) / 1000.0, 0, 'f', 2);
}

// The player's own complaints about a machine without a sound server are no business of
// the user's unless they asked for everything.
void quietMultimedia(const Options& options) {
    if (!audioChatter(options))
        QLoggingCategory::setFilterRules(QStringLiteral("qt.multimedia*.warning=false"));
}

// Standard error closed for the time the player opens a file: on a machine without a sound
// device the audio libraries behind it print a screenful each time, which says nothing to
// the user. Not with --verbose=2.
class QuietStderr {
public:
    explicit QuietStderr(bool quiet) {
        if (!quiet)
            return;
        std::fflush(stderr);
        saved_ = ::dup(STDERR_FILENO);
        const int null = ::open("/dev/null", O_WRONLY);
        if (saved_ >= 0 && null >= 0)
            ::dup2(null, STDERR_FILENO);
        if (null >= 0)
            ::close(null);
    }
    ~QuietStderr() {
        if (saved_ < 0)
            return;
        std::fflush(stderr);
        ::dup2(saved_, STDERR_FILENO);
        ::close(saved_);
    }
    QuietStderr(const QuietStderr&) = delete;
    QuietStderr& operator=(const QuietStderr&) = delete;

private:
    int saved_ = -1;
};

// The table of `plan`: number, name, file, length, rows, start, end.
QString table(const Layout& layout) {
    QList<QStringList> rows;
    for (const PlacedMessage& m : layout.messages)
        rows.append({QString::number(m.number), m.name, m.file,
                     m.lengthMs > 0 ? seconds(m.lengthMs) : QStringLiteral("-"),
                     QString::number(m.rows), rowText(m.start), rowText(m.end)});
    return tableText({"#", "name", "file", "length", "rows", "start", "end"}, rows, {0, 3, 4});
}

QJsonObject layoutJson(const LoadedPlan& loaded) {
    const Layout& layout = loaded.layout;
    QJsonObject o{{"plan", loaded.name},
                  {"model", layout.chip ? layout.chip->nameText() : QStringLiteral("auto")},
                  {"sample_rate", layout.sampleRate},
                  {"row_ms", layout.row.ms()},
                  {"margin_ms", loaded.plan.marginMs},
                  {"rows_used", layout.rowsUsed},
                  {"usage", layout.usageText()}};
    if (layout.chip)
        o.insert("rows_available", layout.rowsAvailable());
    QJsonArray list;
    for (const PlacedMessage& m : layout.messages)
        list.append(messageJson(m));
    o.insert("messages", list);
    o.insert("problems", QJsonArray::fromStringList(layout.problems));
    return o;
}

// A plan that cannot be programmed: every reason on standard error, the last one as the
// run's error line.
void refuse(Session& s, const QString& name, const QStringList& problems) {
    for (qsizetype i = 0; i + 1 < problems.size(); ++i)
        err() << "tamberlo-cli: " << name << ": " << problems[i] << '\n';
    err().flush();
    s.finish(Usage,
             QStringLiteral("tamberlo-cli: %1: %2").arg(name, problems.value(problems.size() - 1)));
}

// program --dry-run: what would go out, nothing opened.
void dryRun(Session& s, const LoadedPlan& loaded) {
    const Options& options = s.options();
    const Layout& layout = loaded.layout;
    QJsonObject& o = s.json();
    o = layoutJson(loaded);
    QJsonArray steps;
    QStringList lines;
    lines << QStringLiteral("would send PU (0x01), DEVID (0x09) and check the model%1")
                 .arg(layout.chip ? QStringLiteral(" is %1").arg(layout.chip->nameText())
                                  : QStringLiteral(" and the fit"));
    if (options.eraseFirst && loaded.from == 1)
        lines << QStringLiteral("would erase the whole chip: G_ERASE (0x43)");
    // From a later message: the rows of the messages to be recorded (with --erase-first),
    // or of the first of them, which may hold an interrupted recording.
    for (const PlacedMessage& m : layout.messages) {
        if (loaded.from > 1 &&
            (m.number == loaded.from || (options.eraseFirst && m.number > loaded.from)))
            lines << QStringLiteral("would erase message %1 \"%2\": SET_ERASE (0x82) %3..%4")
                         .arg(m.number)
                         .arg(m.name, rowText(m.start), rowText(m.end));
    }
    for (const PlacedMessage& m : layout.messages) {
        if (m.number < loaded.from)
            continue;
        const auto frame = rangeFrame(Opcode::SET_REC, static_cast<std::uint16_t>(m.start),
                                      static_cast<std::uint16_t>(m.end));
        const QString bytes = hexBytes(frame);
        lines << QStringLiteral("message %1 \"%2\": SET_REC %3 (rows %4..%5), play %6 (%7), STOP "
                                "(0x02) once its last sample is out, RD_REC_PTR (0x08)")
                     .arg(m.number)
                     .arg(m.name, bytes, rowText(m.start), rowText(m.end), m.file,
                          seconds(m.lengthMs));
        steps.append(QJsonObject{{"number", m.number}, {"set_rec", bytes}});
    }
    lines << QStringLiteral("then read the messages back (map) and compare their starts");
    o.insert("steps", steps);
    s.say(table(layout) + layout.usageText());
    for (const QString& l : lines)
        s.say(l);
    s.finish(Done);
}

} // namespace

LoadedPlan loadPlan(const Options& options) {
    LoadedPlan loaded;
    const QStringList& args = options.arguments;
    if (args.size() == 1 && args[0].endsWith(QLatin1String(".json"), Qt::CaseInsensitive)) {
        for (const char* key : {"model", "rate", "margin"}) {
            if (options.given.contains(QLatin1String(key))) {
                loaded.error =
                    QStringLiteral("tamberlo-cli: --%1 is for audio files given "
                                   "directly; %2 says it with its \"%3\" key")
                        .arg(QLatin1String(key), args[0],
                             QLatin1String(key) == QLatin1String("model")  ? "model"
                             : QLatin1String(key) == QLatin1String("rate") ? "sample_rate"
                                                                           : "margin_ms");
                return loaded;
            }
        }
        QString why;
        const auto plan = readPlan(args[0], &why);
        if (!plan) {
            loaded.error = QStringLiteral("tamberlo-cli: %1").arg(why);
            return loaded;
        }
        loaded.plan = *plan;
        loaded.name = args[0];
    } else {
        loaded.plan = planFromFiles(args);
        loaded.name = QStringLiteral("the files given");
        if (!options.model.isEmpty()) {
            if (const ChipModel* chip = findChipModel(options.model)) {
                loaded.plan.model = chip->nameText();
            } else if (options.model.compare(QLatin1String("auto"), Qt::CaseInsensitive) == 0) {
                loaded.plan.model = QStringLiteral("auto");
            } else {
                loaded.error = QStringLiteral("tamberlo-cli: --model %1: no known chip (%2 or "
                                              "auto)")
                                   .arg(options.model, chipModelNames().join(QStringLiteral(", ")));
                return loaded;
            }
        }
        if (options.rate) {
            if (!rowDuration(*options.rate)) {
                loaded.error = QStringLiteral("tamberlo-cli: --rate %1: the chip's sample rates "
                                              "are %2 Hz")
                                   .arg(*options.rate)
                                   .arg(sampleRateNames().join(QStringLiteral(", ")));
                return loaded;
            }
            loaded.plan.sampleRate = *options.rate;
        }
        if (options.marginMs)
            loaded.plan.marginMs = *options.marginMs;
    }
    if (!options.from.isEmpty()) {
        bool number = false;
        const int n = options.from.toInt(&number);
        int found = 0;
        for (qsizetype i = 0; i < loaded.plan.messages.size(); ++i) {
            if (number ? n == i + 1 : loaded.plan.messages[i].name == options.from)
                found = static_cast<int>(i) + 1;
        }
        if (!found) {
            loaded.error =
                QStringLiteral("tamberlo-cli: --from %1: the plan has no message %2 "
                               "(messages 1 to %3)")
                    .arg(options.from, number ? options.from : QStringLiteral("named so"))
                    .arg(loaded.plan.messages.size());
            return loaded;
        }
        loaded.from = found;
    }
    quietMultimedia(options);
    QtAudioPlayer player;
    {
        const QuietStderr quiet(!audioChatter(options));
        loaded.files = measureFiles(loaded.plan, player);
    }
    loaded.layout = allocate(loaded.plan, loaded.files, plannedChip(loaded.plan));
    return loaded;
}

namespace {

// audio-devices: the outputs, numbered as --audio-device takes them, the default marked.
void audioDevices(Session& s) {
    const Options& options = s.options();
    quietMultimedia(options);
    QList<AudioOutput> outputs;
    {
        const QuietStderr quiet(!audioChatter(options));
        outputs = audioOutputs();
    }
    QJsonArray list;
    for (qsizetype i = 0; i < outputs.size(); ++i)
        list.append(QJsonObject{{"number", int(i + 1)},
                                {"id", QString::fromUtf8(outputs[i].id)},
                                {"description", outputs[i].description},
                                {"default", outputs[i].isDefault}});
    s.json().insert("outputs", list);
    if (outputs.isEmpty())
        s.say(QStringLiteral("no sound output (no sound card or sound server): program cannot "
                             "play its files"));
    for (qsizetype i = 0; i < outputs.size(); ++i)
        s.say(QStringLiteral("%1 %2  %3  (%4)")
                  .arg(outputs[i].isDefault ? QLatin1Char('*') : QLatin1Char(' '))
                  .arg(i + 1, 2)
                  .arg(outputs[i].description, QString::fromUtf8(outputs[i].id)));
    s.finish(Done);
}

} // namespace

// plan: the table and the memory use.
void planTable(Session& s) {
    const LoadedPlan loaded = loadPlan(s.options());
    if (!loaded.error.isEmpty()) {
        s.finish(Usage, loaded.error);
        return;
    }
    const Layout& layout = loaded.layout;
    s.json() = layoutJson(loaded);
    s.say(QStringLiteral("%1: %2, %3 Hz (%4 ms a row), from row %5, margin %6 ms")
              .arg(loaded.name, layout.chip ? layout.chip->nameText()
                                            : QStringLiteral("model read from the chip"))
              .arg(layout.sampleRate)
              .arg(layout.row.ms(), 0, 'g', 5)
              .arg(rowText(loaded.plan.firstRow))
              .arg(loaded.plan.marginMs));
    QString text = table(layout);
    text.chop(1);
    s.say(text);
    if (!layout.ok()) {
        refuse(s, loaded.name, layout.problems);
        return;
    }
    QString usage = layout.usageText();
    if (!layout.chip)
        usage += QStringLiteral(" (it fits the largest model, %1; the chip's model decides the "
                                "rest when programming)")
                     .arg(largestChipModel()->nameText());
    s.say(usage);
    s.finish(Done);
}

// export: the address table on standard output.
void exportTable(Session& s) {
    const Options& options = s.options();
    const LoadedPlan loaded = loadPlan(options);
    if (!loaded.error.isEmpty()) {
        s.finish(Usage, loaded.error);
        return;
    }
    const Layout& layout = loaded.layout;
    if (!layout.ok()) {
        refuse(s, loaded.name, layout.problems);
        return;
    }
    const ExportFormat format = exportFormat(options.format).value_or(ExportFormat::Header);
    const QByteArray text = exportLayout(layout, format, QFileInfo(loaded.name).fileName());
    if (options.json) {
        s.json().insert("format", options.format);
        s.json().insert("text", QString::fromUtf8(text));
    } else {
        out().flush();
        ::fflush(stdout);
        if (::write(STDOUT_FILENO, text.constData(), static_cast<size_t>(text.size())) < 0)
            err() << "tamberlo-cli: standard output: " << std::strerror(errno) << '\n';
    }
    s.finish(Done);
}

// ---- program ------------------------------------------------------------------------

bool QuietRecordingAudio::load(const QString& path, QString* why) {
    const QuietStderr quiet(quiet_);
    return QtRecordingAudio::load(path, why);
}

void QuietRecordingAudio::chooseOutput(const QByteArray& id, const QString& description) {
    description_ = description;
    setOutputDevice(id);
}

bool QuietRecordingAudio::outputReady(QString* why) {
    const QuietStderr quiet(quiet_);
    return QtRecordingAudio::outputReady(why);
}

QString QuietRecordingAudio::outputName() const {
    return description_.isEmpty() ? QtRecordingAudio::outputName()
                                  : QStringLiteral("the output %1").arg(description_);
}

ProgramRun::ProgramRun(LoadedPlan loaded, Session& session)
    : QObject(&session), loaded_(std::move(loaded)), session_(session), options_(session.options()),
      chip_(session.client()) {
    audio_.setQuiet(!audioChatter(options_));
}

void ProgramRun::start() {
    if (!options_.audioDevice.isEmpty()) {
        QByteArray id;
        QString description;
        {
            const QuietStderr quiet(!audioChatter(options_));
            id = findAudioOutput(options_.audioDevice);
            for (const AudioOutput& output : audioOutputs()) {
                if (output.id == id)
                    description = output.description;
            }
        }
        if (id.isEmpty()) {
            session_.finish(Usage, QStringLiteral("tamberlo-cli: --audio-device %1: no such "
                                                  "output (tamberlo-cli audio-devices lists them)")
                                       .arg(options_.audioDevice));
            return;
        }
        audio_.chooseOutput(id, description);
    }
    ProgramOptions po;
    po.eraseFirst = options_.eraseFirst;
    po.from = loaded_.from;
    elapsed_.start();
    programmer_ = std::make_unique<Programmer>(loaded_.plan, loaded_.files, chip_, audio_, po);
    const int count = static_cast<int>(loaded_.plan.messages.size());
    for (int i = loaded_.from - 1; i < count; ++i)
        remainingAudioMs_ += loaded_.files[i].lengthMs.value_or(0);

    connect(programmer_.get(), &Programmer::step, this,
            [this](const QString& text) { session_.say(text); });
    connect(programmer_.get(), &Programmer::messageStarted, this,
            [this](int number, int total, const PlacedMessage& m) {
                current_ = number;
                session_.say(QStringLiteral("message %1/%2 \"%3\": SET_REC %4..%5, playing %6 (%7)")
                                 .arg(number)
                                 .arg(total)
                                 .arg(m.name, rowText(m.start), rowText(m.end), m.file,
                                      seconds(m.lengthMs)));
            });
    connect(programmer_.get(), &Programmer::messageProgress, this,
            [this](int number, std::int64_t position, std::int64_t length) {
                showProgress(number, position, length);
            });
    connect(programmer_.get(), &Programmer::messageDone, this, [this](const MessageTiming& t) {
        const PlacedMessage& m = programmer_->layout().messages[t.number - 1];
        showProgress(t.number, m.lengthMs, m.lengthMs); // the bar ends full
        remainingAudioMs_ -= m.lengthMs;
        session_.say(
            QStringLiteral("  recorded: the chip stopped at row %1; audio started %2 ms after "
                           "the frame, STOP %3 ms from the file's end")
                .arg(rowText(t.stoppedRow))
                .arg(t.startOffsetMs(), 0, 'f', 1)
                .arg(t.stopOffsetMs(), 0, 'f', 1));
    });
    connect(programmer_.get(), &Programmer::notice, this,
            [this](const QString& text) { session_.say(QStringLiteral("  %1").arg(text)); });
    connect(programmer_.get(), &Programmer::finished, this, &ProgramRun::finished);
    // A lost device reaches the programmer through the chip, which ends the run at once.
    connect(&chip_, &ChipAdapter::deviceLost, programmer_.get(), &Programmer::deviceLost);
    session_.onDeviceLost([] {});
    // Ctrl-C (or SIGTERM) stops the recording in progress rather than leaving the chip to
    // record to the end of the message's rows.
    session_.onInterrupt([this] { programmer_->interrupt(QStringLiteral("interrupted")); });
    programmer_->start();
}

void ProgramRun::showProgress(int number, std::int64_t position, std::int64_t length) {
    const PlacedMessage& m = programmer_->layout().messages[number - 1];
    const auto count = static_cast<std::int64_t>(programmer_->layout().messages.size());
    // What is left: this file, the later ones, and the commands of each.
    const std::int64_t left = remainingRunMs(remainingAudioMs_ - position, count - number + 1);
    session_.progress(
        progressText(QStringLiteral("%1/%2 %3 ").arg(number).arg(count).arg(m.name),
                     length > 0 ? double(position) / double(length) : 0.0,
                     QStringLiteral(" %1 of %2; %3 in, about %4 left")
                         .arg(seconds(position), seconds(length), seconds(elapsed_.elapsed()),
                              seconds(std::max<std::int64_t>(0, left))),
                     ProgressLine::terminalWidth(), 24));
}

void ProgramRun::finished(const ProgramOutcome& outcome) {
    QJsonObject& json = session_.json();
    const Layout& layout = outcome.layout.messages.isEmpty() ? loaded_.layout : outcome.layout;
    QJsonArray messages;
    for (const PlacedMessage& m : layout.messages) {
        QJsonObject j = messageJson(m);
        j.insert("recorded", outcome.complete.contains(m.number));
        for (const MessageTiming& t : outcome.timings) {
            if (t.number != m.number)
                continue;
            j.insert("frame_sent_us", double(t.frameSentUs));
            j.insert("audio_start_us", double(t.audioStartUs));
            j.insert("audio_end_us", double(t.audioEndUs));
            j.insert("stop_handed_us", double(t.stopHandedUs));
            j.insert("stop_sent_us", double(t.stopSentUs));
            j.insert("start_offset_ms", t.startOffsetMs());
            j.insert("stop_offset_ms", t.stopOffsetMs());
            j.insert("stopped_row", t.stoppedRow);
            j.insert("stopped_row_hex", rowText(t.stoppedRow));
            j.insert("used_all_rows", t.usedAllRows);
            j.insert("attempts", t.attempts);
        }
        messages.append(j);
    }
    json.insert("plan", loaded_.name);
    if (outcome.layout.chip)
        json.insert("model", outcome.layout.chip->nameText());
    json.insert("messages", messages);
    QJsonArray complete, starts;
    for (int n : outcome.complete)
        complete.append(n);
    for (int s : outcome.chipStarts)
        starts.append(s);
    json.insert("complete", complete);
    json.insert("chip_starts", starts);
    json.insert("mismatches", QJsonArray::fromStringList(outcome.mismatches));
    json.insert("notes", QJsonArray::fromStringList(outcome.notes));
    if (outcome.failedMessage > 0)
        json.insert("resume_from", outcome.failedMessage);

    switch (outcome.kind) {
    case ProgramOutcome::Kind::Done: {
        QStringList rows;
        for (int s : outcome.chipStarts)
            rows << rowText(s);
        const QString starts = rows.join(QStringLiteral(", "));
        session_.say(
            outcome.chipStarts.size() == 1
                ? QStringLiteral("map: the chip's message start is the plan's (%1)").arg(starts)
                : QStringLiteral("map: the chip's %1 message starts are the plan's (%2)")
                      .arg(outcome.chipStarts.size())
                      .arg(starts));
        session_.say(QStringLiteral("done: %1 recorded; %2")
                         .arg(counted(outcome.complete.size(), QStringLiteral("message"),
                                      QStringLiteral("messages")),
                              layout.usageText()));
        session_.finish(tamberlo::cli::Done);
        return;
    }
    case ProgramOutcome::Kind::Mismatch:
        for (const QString& m : outcome.mismatches)
            session_.say(QStringLiteral("map: %1").arg(m));
        session_.finish(exitCodeOf(outcome.cause),
                        QStringLiteral("%1: the chip's messages differ from the plan (%2)")
                            .arg(session_.label(), outcome.mismatches.join(QStringLiteral("; "))));
        return;
    case ProgramOutcome::Kind::PlanRefused:
        refuse(session_, loaded_.name, outcome.problems);
        return;
    case ProgramOutcome::Kind::Fault:
        session_.finish(exitCodeOf(outcome.cause),
                        QStringLiteral("%1: %2").arg(session_.label(), outcome.error));
        return;
    }
}

void runProgram(Session& session) {
    const Options& options = session.options();
    // Measured and checked before anything is sent: a plan that cannot be programmed is
    // refused with every reason.
    LoadedPlan loaded = loadPlan(options);
    if (!loaded.error.isEmpty()) {
        session.finish(Usage, loaded.error);
        return;
    }
    if (!loaded.layout.ok()) {
        session.json()[QStringLiteral("problems")] =
            QJsonArray::fromStringList(loaded.layout.problems);
        refuse(session, loaded.name, loaded.layout.problems);
        return;
    }
    if (options.dryRun) {
        dryRun(session, loaded);
        return;
    }
    const QString eraseQuestion =
        loaded.from == 1
            ? QStringLiteral("Erase every message in the chip on %1 before programming %2?")
                  .arg(session.label(), loaded.name)
            : QStringLiteral("Erase the rows of messages %1 to %2 of %3 in the chip on %4 before "
                             "programming them (messages 1 to %5 are kept)?")
                  .arg(loaded.from)
                  .arg(loaded.plan.messages.size())
                  .arg(loaded.name, session.label())
                  .arg(loaded.from - 1);
    if (options.eraseFirst && !session.confirmDestructive(eraseQuestion))
        return;
    (new ProgramRun(std::move(loaded), session))->start();
}

int exitCodeOf(ProgramOutcome::Cause cause) {
    using Cause = ProgramOutcome::Cause;
    switch (cause) {
    case Cause::None:
        return Done;
    case Cause::Plan:
        return Usage;
    case Cause::Refused:
        return Refused;
    case Cause::Differs:
        return PlanDiffers;
    case Cause::Audio:
        return AudioFailed;
    case Cause::Timeout:
    case Cause::DeviceLost:
    case Cause::UnknownChip:
    case Cause::Interrupted:
        break;
    }
    return Timeout;
}

void installPlanHandlers() {
    setHandler(QStringLiteral("plan"), &planTable);
    setHandler(QStringLiteral("export"), &exportTable);
    setHandler(QStringLiteral("program"), &runProgram);
    setHandler(QStringLiteral("audio-devices"), &audioDevices);
}

} // namespace tamberlo::cli
