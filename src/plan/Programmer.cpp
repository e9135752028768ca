#include "plan/Programmer.h"

#include <algorithm>
#include <chrono>

namespace tamberlo::plan {

namespace {

std::int64_t steadyMicros() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int exitCodeOf(ProgrammerChip::Fault fault) {
    switch (fault) {
    case ProgrammerChip::Fault::Refused:
        return 4;
    case ProgrammerChip::Fault::NoReply:
    case ProgrammerChip::Fault::DeviceGone:
    case ProgrammerChip::Fault::None:
        break;
    }
    return 3;
}

QString numbers(const QList<int>& list) {
    QStringList parts;
    for (int n : list)
        parts << QString::number(n);
    return parts.join(QLatin1String(", "));
}

} // namespace

Programmer::Programmer(Plan plan, QList<MeasuredFile> files, ProgrammerChip& chip,
                       RecordingAudio& audio, ProgramOptions options, QObject* parent)
    : QObject(parent), plan_(std::move(plan)), files_(std::move(files)), chip_(chip), audio_(audio),
      options_(options), clock_(steadyMicros) {
    watch_.setTimerType(Qt::PreciseTimer);
    watch_.setInterval(WatchMs);
    connect(&watch_, &QTimer::timeout, this, &Programmer::watchTick);
    stopTimer_.setTimerType(Qt::PreciseTimer);
    stopTimer_.setSingleShot(true);
    connect(&stopTimer_, &QTimer::timeout, this, &Programmer::sendStop);
}

void Programmer::start() {
    emit step(QStringLiteral("powering the chip up"));
    chip_.powerUp([this](const ProgrammerChip::Result& r) {
        if (fault(r, QStringLiteral("powering up")))
            return;
        chip_.deviceId([this](const ProgrammerChip::Result& id) { checkModel(id); });
    });
}

void Programmer::interrupt(const QString& why) {
    fail(why, ProgrammerChip::Fault::None);
}

bool Programmer::fault(const ProgrammerChip::Result& r, const QString& doing) {
    if (r.ok() || ended_)
        return ended_;
    fail(doing.isEmpty() ? r.text : QStringLiteral("%1: %2").arg(doing, r.text), r.fault);
    return true;
}

void Programmer::checkModel(const ProgrammerChip::Result& r) {
    if (fault(r, QStringLiteral("reading the device ID")))
        return;
    const ChipMemory* chip = findChipMemory(static_cast<std::uint8_t>(r.deviceId));
    if (!chip) {
        outcome_.kind = ProgramOutcome::Kind::Fault;
        outcome_.exitCode = 3;
        outcome_.error = QStringLiteral("the chip's device ID 0x%1 names no known model; nothing "
                                        "was recorded")
                             .arg(r.deviceId & 0xFF, 2, 16, QLatin1Char('0'));
        finish();
        return;
    }
    if (!plan_.autoModel() && chip->name.compare(plan_.model, Qt::CaseInsensitive) != 0) {
        outcome_.kind = ProgramOutcome::Kind::PlanRefused;
        outcome_.exitCode = 1;
        outcome_.problems << QStringLiteral("the plan is for %1, the chip is %2; nothing was "
                                            "recorded")
                                 .arg(plan_.model, chip->name);
        finish();
        return;
    }
    emit step(
        QStringLiteral("chip: %1 (%2 message rows)").arg(chip->name).arg(chip->messageRows()));
    layout_ = allocate(plan_, files_, chip);
    outcome_.layout = layout_;
    if (!layout_.ok()) {
        outcome_.kind = ProgramOutcome::Kind::PlanRefused;
        outcome_.exitCode = 1;
        outcome_.problems = layout_.problems;
        finish();
        return;
    }
    if (options_.from < 1 || options_.from > layout_.messages.size()) {
        outcome_.kind = ProgramOutcome::Kind::PlanRefused;
        outcome_.exitCode = 1;
        outcome_.problems << QStringLiteral("--from %1: the plan has messages 1 to %2")
                                 .arg(options_.from)
                                 .arg(layout_.messages.size());
        finish();
        return;
    }
    eraseThenRecord();
}

void Programmer::eraseThenRecord() {
    index_ = options_.from - 2;
    if (!options_.eraseFirst) {
        nextMessage();
        return;
    }
    emit step(QStringLiteral("erasing the whole chip (G_ERASE)"));
    chip_.eraseAll([this](const ProgrammerChip::Result& r) {
        if (fault(r, QStringLiteral("erasing the chip")))
            return;
        waitReady(100);
    });
}

void Programmer::waitReady(int triesLeft) {
    // The chip is busy for a while after an erase and refuses SET_REC until it is done.
    chip_.readStatus([this, triesLeft](const ProgrammerChip::Result& r) {
        if (fault(r, QStringLiteral("waiting for the erase to finish")))
            return;
        if (r.ready) {
            nextMessage();
        } else if (triesLeft <= 0) {
            fail(QStringLiteral("the chip stayed busy after G_ERASE"),
                 ProgrammerChip::Fault::NoReply);
        } else {
            QTimer::singleShot(20, this, [this, triesLeft] { waitReady(triesLeft - 1); });
        }
    });
}

void Programmer::nextMessage() {
    ++index_;
    if (index_ >= layout_.messages.size()) {
        scan();
        return;
    }
    const PlacedMessage& m = layout_.messages[index_];
    emit messageStarted(m.number, static_cast<int>(layout_.messages.size()), m);
    QString why;
    if (!audio_.load(m.path, &why)) {
        fail(QStringLiteral("%1: %2").arg(m.file, why), ProgrammerChip::Fault::None);
        return;
    }
    audioLengthMs_ = audio_.lengthMs() > 0 ? audio_.lengthMs() : m.lengthMs;
    timing_ = {};
    timing_.number = m.number;
    stopHanded_ = false;
    recording_ = true; // from the moment the frame may have reached the chip
    chip_.setRecord(
        m.start, m.end, [this] { frameSent(); },
        [this](const ProgrammerChip::Result& r) { fault(r, QStringLiteral("SET_REC")); });
}

void Programmer::frameSent() {
    if (ended_)
        return;
    // The chip records from now: so must the audio.
    audio_.start();
    timing_.frameSentUs = now();
    timing_.audioStartUs = timing_.frameSentUs; // until the position tells better
    lastProgressUs_ = 0;
    watch_.start();
}

void Programmer::watchTick() {
    if (ended_ || stopHanded_ || timing_.frameSentUs == 0)
        return;
    const std::int64_t t = now();
    const std::int64_t position = audio_.playedMs();
    if (position > 0) {
        // The file's position 0 in clock time. The smallest estimate is the freshest
        // position report.
        const std::int64_t anchor = t - position * 1000;
        if (timing_.audioStartUs == timing_.frameSentUs || anchor < timing_.audioStartUs)
            timing_.audioStartUs = std::max(anchor, timing_.frameSentUs - 1000000);
    } else if (t - timing_.frameSentUs > std::int64_t(AudioStartTimeoutMs) * 1000) {
        fail(QStringLiteral("%1: the audio did not start playing")
                 .arg(layout_.messages[index_].file),
             ProgrammerChip::Fault::None);
        return;
    }
    timing_.audioEndUs = timing_.audioStartUs + audioLengthMs_ * 1000;
    if (t - lastProgressUs_ >= 100000) {
        lastProgressUs_ = t;
        emit messageProgress(layout_.messages[index_].number, std::min(position, audioLengthMs_),
                             audioLengthMs_);
    }
    // STOP is handed over one lead earlier than the byte is to leave.
    const std::int64_t dueUs = timing_.audioEndUs - std::int64_t(chip_.handOverLeadMs()) * 1000;
    if (position > 0 && t >= dueUs - WatchMs * 1000) {
        stopHanded_ = true;
        watch_.stop();
        const std::int64_t waitUs = dueUs - t;
        if (waitUs <= 500)
            sendStop();
        else
            stopTimer_.start(static_cast<int>(waitUs / 1000));
    }
}

void Programmer::sendStop() {
    if (ended_)
        return;
    stopHanded_ = true;
    watch_.stop();
    timing_.stopHandedUs = now();
    chip_.stop([this] { timing_.stopSentUs = now(); },
               [this](const ProgrammerChip::Result& r) { stopDone(r); });
}

void Programmer::stopDone(const ProgrammerChip::Result& r) {
    recording_ = false;
    audio_.stop();
    // A refusal in STOP's reply is the SET_REC before it.
    if (fault(r, QStringLiteral("recording")))
        return;
    chip_.readRecordPointer([this](const ProgrammerChip::Result& p) { confirm(p); });
}

void Programmer::confirm(const ProgrammerChip::Result& r) {
    if (fault(r, QStringLiteral("reading the record pointer")))
        return;
    const PlacedMessage& m = layout_.messages[index_];
    timing_.stoppedRow = r.currentRow;
    if (r.currentRow < m.start || r.currentRow > m.end) {
        fail(QStringLiteral("the chip stopped at row %1, outside the message's rows %2..%3")
                 .arg(rowText(r.currentRow), rowText(m.start), rowText(m.end)),
             ProgrammerChip::Fault::NoReply);
        return;
    }
    outcome_.complete.append(m.number);
    outcome_.timings.append(timing_);
    emit messageDone(timing_);
    nextMessage();
}

void Programmer::scan() {
    emit step(QStringLiteral("reading the chip's messages back (map)"));
    chip_.scanMessages([this](const ProgrammerChip::Result& r) { compare(r); });
}

void Programmer::compare(const ProgrammerChip::Result& r) {
    if (fault(r, QStringLiteral("map")))
        return;
    outcome_.chipStarts = r.starts;
    QList<int> planned;
    for (const PlacedMessage& m : layout_.messages)
        planned.append(m.start);
    for (const PlacedMessage& m : layout_.messages) {
        if (!r.starts.contains(m.start))
            outcome_.mismatches << QStringLiteral(
                                       "message %1 \"%2\" planned at %3 is not in the chip")
                                       .arg(m.number)
                                       .arg(m.name, rowText(m.start));
    }
    for (int s : r.starts) {
        if (!planned.contains(s))
            outcome_.mismatches << QStringLiteral("the chip has a message at %1 that the plan "
                                                  "does not")
                                       .arg(rowText(s));
    }
    if (!outcome_.mismatches.isEmpty()) {
        outcome_.kind = ProgramOutcome::Kind::Mismatch;
        outcome_.exitCode = 5;
    }
    finish();
}

void Programmer::fail(const QString& what, ProgrammerChip::Fault kind) {
    if (ended_)
        return;
    watch_.stop();
    stopTimer_.stop();
    const bool atMessage = index_ >= 0 && index_ < layout_.messages.size();
    outcome_.kind = ProgramOutcome::Kind::Fault;
    outcome_.exitCode = exitCodeOf(kind);
    QString text = what;
    if (atMessage) {
        const PlacedMessage& m = layout_.messages[index_];
        outcome_.failedMessage = m.number;
        text = QStringLiteral("message %1 \"%2\": %3").arg(m.number).arg(m.name, what);
    }
    QList<int> done;
    for (int n = 1; n < options_.from; ++n)
        done << n;
    done += outcome_.complete;
    if (atMessage) {
        text += done.isEmpty() ? QStringLiteral("; no message is complete")
                               : QStringLiteral("; complete: %1").arg(numbers(done));
        text += QStringLiteral("; resume with --from %1").arg(outcome_.failedMessage);
    }
    outcome_.error = text;
    audio_.stop();
    if (recording_ && kind != ProgrammerChip::Fault::DeviceGone) {
        // Try to end a recording that may be running; the outcome stands whatever comes.
        recording_ = false;
        ended_ = true;
        chip_.stop([] {}, [this](const ProgrammerChip::Result&) { emit finished(outcome_); });
        return;
    }
    finish();
}

void Programmer::finish() {
    ended_ = true;
    watch_.stop();
    stopTimer_.stop();
    emit finished(outcome_);
}

} // namespace tamberlo::plan
