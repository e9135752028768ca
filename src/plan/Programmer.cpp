#include "plan/Programmer.h"

#include "codec/HexText.h"

#include <algorithm>
#include <chrono>
#include <memory>

namespace tamberlo::plan {

namespace {

std::int64_t steadyMicros() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

using Cause = ProgramOutcome::Cause;

Cause causeOf(ProgrammerChip::Fault fault) {
    switch (fault) {
    case ProgrammerChip::Fault::Refused:
        return Cause::Refused;
    case ProgrammerChip::Fault::DeviceLost:
        return Cause::DeviceLost;
    case ProgrammerChip::Fault::Timeout:
        return Cause::Timeout;
    case ProgrammerChip::Fault::None:
        break;
    }
    return Cause::Interrupted;
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
}

void Programmer::start() {
    QString why;
    if (!audio_.outputReady(&why)) {
        // Nothing is sent: recording silence is worse than not recording.
        failWith(QStringLiteral("the audio could not be played whole: no working output (%1); "
                                "nothing was recorded")
                     .arg(why.isEmpty() ? audio_.outputName() : why),
                 Cause::Audio, false);
        return;
    }
    emit step(QStringLiteral("powering the chip up"));
    chip_.powerUp([this](const ProgrammerChip::Result& r) {
        if (fault(r, QStringLiteral("powering up")))
            return;
        chip_.deviceId([this](const ProgrammerChip::Result& id) { checkModel(id); });
    });
}

void Programmer::deviceLost(const QString& why) {
    fail(why, ProgrammerChip::Fault::DeviceLost);
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
    const ChipModel* chip = findChipModel(static_cast<std::uint8_t>(r.deviceId));
    if (!chip) {
        outcome_.kind = ProgramOutcome::Kind::Fault;
        outcome_.cause = Cause::UnknownChip;
        outcome_.error = QStringLiteral("the chip's device ID %1 names no known model; nothing "
                                        "was recorded")
                             .arg(hexByte(static_cast<std::uint8_t>(r.deviceId)));
        finish();
        return;
    }
    if (!plan_.autoModel() && chip->nameText().compare(plan_.model, Qt::CaseInsensitive) != 0) {
        outcome_.kind = ProgramOutcome::Kind::PlanRefused;
        outcome_.cause = Cause::Plan;
        outcome_.problems << QStringLiteral("the plan is for %1, the chip is %2; nothing was "
                                            "recorded")
                                 .arg(plan_.model, chip->nameText());
        finish();
        return;
    }
    emit step(QStringLiteral("chip: %1 (%2 message rows)")
                  .arg(chip->nameText())
                  .arg(chip->messageRows()));
    layout_ = allocate(plan_, files_, chip);
    outcome_.layout = layout_;
    if (!layout_.ok()) {
        outcome_.kind = ProgramOutcome::Kind::PlanRefused;
        outcome_.cause = Cause::Plan;
        outcome_.problems = layout_.problems;
        finish();
        return;
    }
    if (options_.from < 1 || options_.from > layout_.messages.size()) {
        outcome_.kind = ProgramOutcome::Kind::PlanRefused;
        outcome_.cause = Cause::Plan;
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
    const auto count = static_cast<int>(layout_.messages.size());
    if (options_.eraseFirst && options_.from == 1) {
        emit step(QStringLiteral("erasing the whole chip (G_ERASE)"));
        chip_.eraseAll([this](const ProgrammerChip::Result& r) {
            if (fault(r, QStringLiteral("erasing the chip")))
                return;
            waitReady(QStringLiteral("G_ERASE"), [this] { nextMessage(); });
        });
        return;
    }
    // The messages before `from` are in the chip and stay. On a resume the rows of message
    // `from` may hold an interrupted recording (its end marker would stand as a message of
    // its own): those are erased; with --erase-first the rows of every message recorded.
    toErase_.clear();
    if (options_.eraseFirst) {
        for (int i = options_.from - 1; i < count; ++i)
            toErase_.append(i);
    } else if (options_.from > 1) {
        toErase_.append(options_.from - 1);
    }
    eraseQueued();
}

void Programmer::eraseQueued() {
    if (toErase_.isEmpty()) {
        nextMessage();
        return;
    }
    eraseMessage(toErase_.takeFirst(), [this] { eraseQueued(); });
}

void Programmer::eraseMessage(int index, std::function<void()> then) {
    const PlacedMessage& m = layout_.messages[index];
    const QString what = QStringLiteral("SET_ERASE %1..%2").arg(rowText(m.start), rowText(m.end));
    emit step(QStringLiteral("erasing message %1 \"%2\": %3").arg(m.number).arg(m.name, what));
    chip_.eraseRows(m.start, m.end,
                    [this, what, then = std::move(then)](const ProgrammerChip::Result& r) {
                        if (fault(r, what))
                            return;
                        waitReady(what, then);
                    });
}

void Programmer::waitReady(const QString& what, std::function<void()> then) {
    // The chip is busy for a while after an erase and refuses SET_REC until it is done.
    chip_.waitUntilReady([this, what, then = std::move(then)](const ProgrammerChip::Result& r) {
        if (!fault(r, QStringLiteral("waiting for %1 to finish").arg(what)))
            then();
    });
}

void Programmer::nextMessage() {
    ++index_;
    if (index_ >= layout_.messages.size()) {
        scan();
        return;
    }
    attempt_ = 0;
    const PlacedMessage& m = layout_.messages[index_];
    emit messageStarted(m.number, static_cast<int>(layout_.messages.size()), m);
    recordMessage();
}

void Programmer::recordMessage() {
    const PlacedMessage& m = layout_.messages[index_];
    QString why;
    if (!audio_.load(m.path, &why)) {
        failWith(QStringLiteral("%1: %2").arg(m.file, why), Cause::Plan);
        return;
    }
    // The file as it is now, not as it was planned: one that grew no longer fits its rows.
    audioLengthMs_ = audio_.lengthMs() > 0 ? audio_.lengthMs() : m.lengthMs;
    const int needed = std::max(1, layout_.row.rowsFor(audioLengthMs_ + plan_.marginMs));
    if (needed > m.rows) {
        failWith(QStringLiteral("%1 is now %2 s long, planned %3 s: with the %4 ms margin it "
                                "needs %5 rows, its rows %6..%7 are %8; plan again")
                     .arg(m.file)
                     .arg(audioLengthMs_ / 1000.0, 0, 'f', 2)
                     .arg(m.lengthMs / 1000.0, 0, 'f', 2)
                     .arg(plan_.marginMs)
                     .arg(needed)
                     .arg(rowText(m.start), rowText(m.end))
                     .arg(m.rows),
                 Cause::Plan, false);
        return;
    }
    timing_ = {};
    timing_.number = m.number;
    timing_.attempts = attempt_ + 1;
    stopHanded_ = false;
    fullBefore_ = false;
    recording_ = true; // from the moment the frame may have reached the chip
    chip_.setRecord(
        m.start, m.end, [this] { frameSent(); },
        [this](const ProgrammerChip::Result& r) {
            if (!fault(r, QStringLiteral("SET_REC")))
                fullBefore_ = r.full;
        });
}

void Programmer::frameSent() {
    if (ended_)
        return;
    // The chip records from now: so must the audio.
    audio_.start();
    timing_.frameSentUs = now();
    timing_.audioStartUs = 0; // until the output tells
    lastProgressUs_ = 0;
    watch_.start(WatchMs);
}

QString Programmer::audioFailure(const QString& why) const {
    const PlacedMessage& m = layout_.messages[index_];
    return QStringLiteral("the audio could not be played whole: %1 on %2: %3")
        .arg(m.file, audio_.outputName(), why);
}

void Programmer::watchTick() {
    if (ended_ || stopHanded_ || timing_.frameSentUs == 0)
        return;
    const std::int64_t t = now();
    if (const QString failure = audio_.failure(); !failure.isEmpty()) {
        messageFailed(audioFailure(failure), Cause::Audio);
        return;
    }
    // A report of more than has had time to play since start() is not this playback's (the
    // previous file's end, still reported while the new one starts): it is not believed.
    const std::int64_t reported = audio_.playedMs();
    const bool believed =
        reported > 0 && reported * 1000 <= t - timing_.frameSentUs + std::int64_t(WatchMs) * 1000;
    const std::int64_t position = believed ? reported : 0;
    if (believed) {
        // The file's first sample out of the output, in clock time. The smallest estimate
        // is the freshest position report: a stale one (the same position later) neither
        // moves it nor delays STOP.
        const std::int64_t anchor = std::max(t - position * 1000, timing_.frameSentUs);
        if (timing_.audioStartUs == 0 || anchor < timing_.audioStartUs)
            timing_.audioStartUs = anchor;
    } else if (timing_.audioStartUs == 0 &&
               t - timing_.frameSentUs > std::int64_t(AudioStartTimeoutMs) * 1000) {
        messageFailed(audioFailure(QStringLiteral("nothing came out of the output within %1 s")
                                       .arg(AudioStartTimeoutMs / 1000)),
                      Cause::Audio);
        return;
    }
    if (t - lastProgressUs_ >= 100000) {
        lastProgressUs_ = t;
        emit messageProgress(layout_.messages[index_].number, std::min(position, audioLengthMs_),
                             audioLengthMs_);
    }
    // Nothing has been seen playing: a player's word that it finished is the last file's.
    if (timing_.audioStartUs == 0)
        return;
    // The output's word of when the last sample comes out, once it knows: STOP leaves then,
    // on a look timed for that moment rather than at the next one.
    const std::int64_t lastOut = audio_.lastSampleOutUs();
    if (audio_.finished() || (lastOut > 0 && t >= lastOut)) {
        // What came out: the report, or the time since the first sample when the report
        // lags behind.
        const std::int64_t played =
            std::max(position, (std::max(t, lastOut) - timing_.audioStartUs) / std::int64_t(1000));
        if (played + EndedEarlyMs < audioLengthMs_) {
            messageFailed(audioFailure(QStringLiteral("the player ended it after %1 of %2 ms")
                                           .arg(played)
                                           .arg(audioLengthMs_)),
                          Cause::Audio);
            return;
        }
        timing_.audioEndUs = lastOut > 0 ? std::min(lastOut, t) : t;
        sendStop();
        return;
    }
    if (lastOut > 0 && lastOut - t < std::int64_t(WatchMs) * 1000)
        watch_.start(static_cast<int>((lastOut - t + 999) / 1000));
    // The last sample comes out one file length after the first. STOP waits for the output's
    // word that it has (finished(), above): a clock that runs ahead of the sound now and then
    // (a sink that plays in blocks) must not cut the end. The expected end only tells an
    // output that fell behind or never says it finished.
    timing_.audioEndUs = timing_.audioStartUs + audioLengthMs_ * 1000;
    if (t >= timing_.audioEndUs && position + StaleReportMs < audioLengthMs_) {
        // Far more of the file is still to come than a late report explains: the output
        // fell behind (starved), and STOP now would cut the end.
        messageFailed(audioFailure(QStringLiteral("the output fell behind: %1 of %2 ms had come "
                                                  "out when the file should have ended")
                                       .arg(position)
                                       .arg(audioLengthMs_)),
                      Cause::Audio);
        return;
    }
    if (t >= timing_.audioEndUs + std::int64_t(FinishGraceMs) * 1000) {
        messageFailed(audioFailure(QStringLiteral("the output did not say it had played the "
                                                  "end within %1 ms of when it should have")
                                       .arg(FinishGraceMs)),
                      Cause::Audio);
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
    const PlacedMessage& m = layout_.messages[index_];
    if (r.full && !fullBefore_) {
        messageFailed(QStringLiteral("the chip reported FULL in STOP's reply: it ran out of "
                                     "rows before the file's end"),
                      Cause::Differs);
        return;
    }
    // The chip records from the end of the SET_REC frame and stops by itself at the end of
    // the rows: a STOP that left later than that came after the chip had cut the file.
    const std::int64_t recordedUs = timing_.stopSentUs - timing_.frameSentUs;
    const auto rowsUs = static_cast<std::int64_t>(layout_.row.msOf(m.rows) * 1000.0);
    if (timing_.stopSentUs > 0 && recordedUs > rowsUs) {
        messageFailed(QStringLiteral("STOP left %1 s after SET_REC, the rows %2..%3 hold %4 s: "
                                     "the chip stopped at their end and the file's end is cut")
                          .arg(recordedUs / 1e6, 0, 'f', 2)
                          .arg(rowText(m.start), rowText(m.end))
                          .arg(rowsUs / 1e6, 0, 'f', 2),
                      Cause::Differs);
        return;
    }
    chip_.readRecordPointer([this](const ProgrammerChip::Result& p) { confirm(p); });
}

void Programmer::confirm(const ProgrammerChip::Result& r) {
    if (fault(r, QStringLiteral("reading the record pointer")))
        return;
    const PlacedMessage& m = layout_.messages[index_];
    timing_.stoppedRow = r.currentRow;
    // A chip reports the row it stopped in or the next free one: the row after the end is
    // a message that used all its rows. Anything else is a chip that ignored the range.
    if (r.currentRow < m.start || r.currentRow > m.end + 1) {
        failWith(QStringLiteral("the chip stopped at row %1, outside the message's rows %2..%3: "
                                "it did not record where SET_REC asked")
                     .arg(rowText(r.currentRow), rowText(m.start), rowText(m.end)),
                 Cause::Differs, false);
        return;
    }
    if (r.currentRow == m.end + 1) {
        timing_.usedAllRows = true;
        const QString note = QStringLiteral("message %1 \"%2\" used all its rows %3..%4 (its "
                                            "margin was used up)")
                                 .arg(m.number)
                                 .arg(m.name, rowText(m.start), rowText(m.end));
        outcome_.notes << note;
        emit notice(note);
    }
    outcome_.complete.append(m.number);
    outcome_.timings.append(timing_);
    emit messageDone(timing_);
    nextMessage();
}

void Programmer::messageFailed(const QString& why, Cause cause) {
    if (ended_)
        return;
    watch_.stop();
    audio_.stop();
    if (attempt_ > 0) {
        failWith(why, cause);
        return;
    }
    attempt_ = 1;
    const PlacedMessage& m = layout_.messages[index_];
    emit notice(QStringLiteral("message %1 \"%2\": %3; erasing its rows to record it once more")
                    .arg(m.number)
                    .arg(m.name, why));
    if (!recording_) {
        retry();
        return;
    }
    stopHanded_ = true;
    chip_.stop([] {},
               [this](const ProgrammerChip::Result& r) {
                   recording_ = false;
                   if (!fault(r, QStringLiteral("STOP")))
                       retry();
               });
}

void Programmer::retry() {
    eraseMessage(static_cast<int>(index_), [this] { recordMessage(); });
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
        outcome_.cause = Cause::Differs;
    }
    finish();
}

void Programmer::fail(const QString& what, ProgrammerChip::Fault kind) {
    failWith(what, causeOf(kind), kind != ProgrammerChip::Fault::DeviceLost);
}

void Programmer::failWith(const QString& what, Cause cause, bool tryStop) {
    if (ended_)
        return;
    watch_.stop();
    const bool atMessage = index_ >= 0 && index_ < layout_.messages.size();
    outcome_.kind = ProgramOutcome::Kind::Fault;
    outcome_.cause = cause;
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
    if (recording_ && tryStop) {
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
    emit finished(outcome_);
}

} // namespace tamberlo::plan
