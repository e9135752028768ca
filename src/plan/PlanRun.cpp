#include "plan/PlanRun.h"

#include "chip/ChipClient.h"
#include "chip/ChipMap.h"
#include "link/PortResolver.h"
#include "link/QtSerialPort.h"
#include "plan/ChipAdapter.h"
#include "plan/PlanDocument.h"
#include "plan/QtRecordingAudio.h"

#include <QTimer>
#include <algorithm>

namespace tamberlo::plan {

std::int64_t remainingRunMs(std::int64_t audioLeftMs, int messagesLeft) {
    return std::max<std::int64_t>(0, audioLeftMs) +
           std::int64_t(std::max(0, messagesLeft)) * OverheadPerMessageMs;
}

ChipComparison compareWithChip(const Layout& layout, const QList<int>& chipStarts) {
    ChipComparison c;
    c.chipMessages = static_cast<int>(chipStarts.size());
    for (const MessageCheck& check : checkMessages(layout, chipStarts)) {
        switch (check.state) {
        case MessageCheck::State::Found:
            ++c.found;
            c.rows.append({RowState::Found});
            break;
        case MessageCheck::State::Missing:
            ++c.missing;
            c.rows.append({RowState::Missing});
            break;
        case MessageCheck::State::Moved:
            ++c.moved;
            c.rows.append({RowState::Moved, check.chipStart});
            break;
        }
    }
    c.unplanned = unplannedStarts(layout, chipStarts);
    return c;
}

QList<RowChange> rowsAfterRecording(const QList<RowState>& during, const ProgramOutcome& outcome,
                                    const ChipComparison& chip) {
    QList<RowChange> changes;
    using Kind = ProgramOutcome::Kind;
    switch (outcome.kind) {
    case Kind::Done:
    case Kind::Mismatch:
        for (int r = 0; r < chip.rows.size(); ++r)
            changes.append({r, chip.rows[r]});
        break;
    case Kind::PlanRefused:
        for (int r = 0; r < during.size(); ++r)
            if (during[r] == RowState::Waiting)
                changes.append({r, {RowState::None}});
        break;
    case Kind::Fault:
        for (int r = 0; r < during.size(); ++r)
            if (during[r] == RowState::Recording || during[r] == RowState::Waiting)
                changes.append(
                    {r, {r + 1 == outcome.failedMessage ? RowState::Failed : RowState::None}});
        break;
    }
    return changes;
}

// One run's link to the chip: the port is open for as long as the session lives.
struct PlanRun::Session {
    SerialPort* port = nullptr;
    std::unique_ptr<SerialPort> ownPort;
    std::unique_ptr<ChipClient> client;
    std::unique_ptr<ChipAdapter> chip;
    std::unique_ptr<Programmer> programmer;
    std::unique_ptr<ChipMapper> mapper;
};

PlanRun::PlanRun(PlanDocument& document, Platform platform, QObject* parent)
    : QObject(parent), doc_(document), port_(platform.port), audio_(platform.audio) {}

PlanRun::~PlanRun() {
    closeSession();
}

bool PlanRun::isRecording() const {
    return running_ && session_ && session_->programmer;
}

std::int64_t PlanRun::elapsedMs() const {
    return elapsed_.isValid() ? elapsed_.elapsed() : 0;
}

std::int64_t PlanRun::remainingMs() const {
    const std::int64_t doneMs = doneAudioMs_ + std::min(currentPosMs_, currentLenMs_);
    return running_ ? remainingRunMs(runAudioMs_ - doneMs, messagesLeft_) : 0;
}

std::optional<int> PlanRun::planPermille() const {
    if (runAudioMs_ <= 0)
        return std::nullopt;
    const std::int64_t doneMs = doneAudioMs_ + std::min(currentPosMs_, currentLenMs_);
    return static_cast<int>(std::min<std::int64_t>(1000, doneMs * 1000 / runAudioMs_));
}

bool PlanRun::openSession(const QString& portText) {
    closeSession();
    problem_ = {};
    const std::optional<std::int16_t> number = parsePortNumber(portText, &problem_.reason);
    if (!number) {
        problem_.kind = PortProblem::Kind::BadNumber;
        return false;
    }
    auto session = std::make_unique<Session>();
    session->port = port_;
    if (!session->port) {
        session->ownPort = std::make_unique<QtSerialPort>();
        session->port = session->ownPort.get();
    }
    session->port->setPortNumber(*number);
    if (!session->port->open()) {
        problem_ = {PortProblem::Kind::NotOpened, *number, session->port->errorText()};
        return false;
    }
    session->client = std::make_unique<ChipClient>(*session->port);
    session->chip = std::make_unique<ChipAdapter>(*session->client);
    session_ = std::move(session);
    return true;
}

void PlanRun::closeSession() {
    if (!session_)
        return;
    // Completions still queued come back to their owners before they go.
    if (session_->client)
        session_->client->cancelAll();
    std::unique_ptr<Session> s = std::move(session_);
    s->programmer.reset();
    s->mapper.reset();
    s->chip.reset();
    s->client.reset();
    if (s->port->isOpen())
        s->port->close();
}

void PlanRun::setRow(int row, const RowCheck& check) {
    if (row >= 0 && row < states_.size())
        states_[row] = check.state;
    emit rowChanged(row, check);
}

bool PlanRun::prepareRecording(const QString& portText, int from, bool eraseFirst) {
    if (running_ || !openSession(portText))
        return false;
    const Plan& plan = doc_.plan();
    const Layout& layout = doc_.layout();
    if (!audio_) {
        ownAudio_ = std::make_unique<QtRecordingAudio>();
        audio_ = ownAudio_.get();
    }
    // The run plays on the output the plan names (empty: the default output). The recording
    // audio made here is the Qt one; one given from outside is not told yet.
    if (ownAudio_)
        static_cast<QtRecordingAudio*>(ownAudio_.get())->setOutputDevice(plan.output.toUtf8());

    // The messages before `from` keep the states they have.
    states_ = QList<RowState>(plan.messages.size(), RowState::None);
    for (int r = from - 1; r < plan.messages.size(); ++r)
        setRow(r, {RowState::Waiting});
    runAudioMs_ = 0;
    for (int r = from - 1; r < layout.messages.size(); ++r)
        runAudioMs_ += layout.messages[r].lengthMs;
    doneAudioMs_ = currentPosMs_ = currentLenMs_ = 0;
    messagesLeft_ = static_cast<int>(layout.messages.size()) - from + 1;
    resumeFrom_ = 0;
    outcome_ = {};

    ProgramOptions options;
    options.eraseFirst = eraseFirst;
    options.from = from;
    auto* programmer = new Programmer(plan, doc_.measured(), *session_->chip, *audio_, options);
    session_->programmer.reset(programmer);
    connect(programmer, &Programmer::messageStarted, this, &PlanRun::onMessageStarted);
    connect(programmer, &Programmer::messageProgress, this, &PlanRun::onMessageProgress);
    connect(programmer, &Programmer::messageDone, this, &PlanRun::onMessageDone);
    connect(programmer, &Programmer::finished, this, &PlanRun::onProgramFinished);
    connect(programmer, &Programmer::notice, this, &PlanRun::notice);
    connect(session_->chip.get(), &ChipAdapter::deviceLost, programmer, &Programmer::deviceLost);
    return true;
}

bool PlanRun::prepareVerify(const QString& portText) {
    if (running_ || !openSession(portText))
        return false;
    states_ = QList<RowState>(doc_.plan().messages.size(), RowState::None);
    for (int r = 0; r < states_.size(); ++r)
        setRow(r, {RowState::None});
    runAudioMs_ = doneAudioMs_ = currentPosMs_ = currentLenMs_ = 0;
    messagesLeft_ = 0;
    session_->mapper = std::make_unique<ChipMapper>(*session_->client);
    connect(session_->mapper.get(), &ChipMapper::progress, this, &PlanRun::scanProgress);
    connect(session_->mapper.get(), &ChipMapper::finished, this, &PlanRun::onMapped);
    return true;
}

void PlanRun::start() {
    if (running_ || !session_)
        return;
    running_ = true;
    elapsed_.start();
    emit started();
    if (session_->programmer)
        session_->programmer->start();
    else if (session_->mapper)
        session_->mapper->start();
}

void PlanRun::stop() {
    if (isRecording())
        session_->programmer->interrupt(QStringLiteral("stopped by the operator"));
}

void PlanRun::onMessageStarted(int number, int count, const PlacedMessage& message) {
    // The engine has read the chip's model by now.
    if (session_ && session_->programmer && session_->programmer->layout().chip)
        doc_.learnModel(session_->programmer->layout().chip->id);
    const int row = number - 1;
    emit currentRowChanged(row);
    setRow(row, {RowState::Recording});
    currentPosMs_ = 0;
    currentLenMs_ = message.lengthMs;
    emit messagePermille(0);
    emit messageStarted(number, count, message);
}

void PlanRun::onMessageProgress(int, std::int64_t positionMs, std::int64_t lengthMs) {
    currentPosMs_ = positionMs;
    currentLenMs_ = lengthMs;
    emit messagePermille(
        lengthMs > 0 ? static_cast<int>(std::min<std::int64_t>(1000, positionMs * 1000 / lengthMs))
                     : 0);
}

void PlanRun::onMessageDone(const MessageTiming& timing) {
    const int row = timing.number - 1;
    setRow(row, {RowState::Done});
    doneAudioMs_ += doc_.layout().messages.value(row).lengthMs;
    currentPosMs_ = currentLenMs_ = 0;
    messagesLeft_ = std::max(0, messagesLeft_ - 1);
    emit messagePermille(1000);
    emit messageDone(timing.number, row + 1 == doc_.layout().messages.size());
}

void PlanRun::onProgramFinished(const ProgramOutcome& outcome) {
    outcome_ = outcome;
    if (outcome.layout.chip)
        doc_.learnModel(outcome.layout.chip->id);
    using Kind = ProgramOutcome::Kind;
    ChipComparison chip;
    if (outcome.kind == Kind::Done || outcome.kind == Kind::Mismatch)
        chip = compareWithChip(doc_.layout(), outcome.chipStarts);
    for (const RowChange& change : rowsAfterRecording(states_, outcome, chip))
        setRow(change.row, change.check);
    if (outcome.kind == Kind::Fault)
        resumeFrom_ = outcome.failedMessage;
    emit recorded(outcome, chip);
    end();
}

void PlanRun::onMapped(const MessageMap& map) {
    if (!map.ok()) {
        emit verified(map.errorText, {});
        end();
        return;
    }
    if (map.model)
        doc_.learnModel(map.model->id);
    QList<int> starts;
    for (std::uint16_t s : map.starts)
        starts.append(s);
    const ChipComparison chip = compareWithChip(doc_.layout(), starts);
    for (int r = 0; r < chip.rows.size(); ++r)
        setRow(r, chip.rows[r]);
    emit verified({}, chip);
    end();
}

void PlanRun::end() {
    running_ = false;
    emit currentRowChanged(-1);
    emit ended();
    // The session goes once the engine's signal that brought us here has returned.
    QTimer::singleShot(0, this, [this] {
        if (!running_)
            closeSession();
        emit finished();
    });
}

} // namespace tamberlo::plan
