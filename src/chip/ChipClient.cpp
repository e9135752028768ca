#include "chip/ChipClient.h"

#include "chip/Catalogue.h"
#include "codec/HexText.h"

#include <chrono>

namespace tamberlo {

namespace {

qint64 steadyNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

QString named(std::uint8_t opcode) {
    const QString name = commandName(opcode);
    if (name.startsWith(QLatin1String("0x")))
        return name;
    return QStringLiteral("%1 (%2)").arg(name, hexByte(opcode));
}

} // namespace

QString chipErrorName(ChipError error) {
    switch (error) {
    case ChipError::None:
        return {};
    case ChipError::Timeout:
        return QStringLiteral("timeout");
    case ChipError::DeviceLost:
        return QStringLiteral("device lost");
    case ChipError::Refused:
        return QStringLiteral("refused");
    case ChipError::PortClosed:
        return QStringLiteral("port closed");
    case ChipError::Cancelled:
        return QStringLiteral("cancelled");
    }
    return {};
}

ChipClient::ChipClient(SerialPort& port, QObject* parent)
    : QObject(parent), port_(port), clock_(steadyNs) {
    paceTimer_.setSingleShot(true);
    paceTimer_.setTimerType(Qt::PreciseTimer);
    replyTimer_.setSingleShot(true);
    replyTimer_.setTimerType(Qt::PreciseTimer);
    lineTimer_.setInterval(1);
    lineTimer_.setTimerType(Qt::PreciseTimer);
    connect(&lineTimer_, &QTimer::timeout, this, &ChipClient::lineTick);
    connect(&paceTimer_, &QTimer::timeout, this, &ChipClient::tick);
    connect(&replyTimer_, &QTimer::timeout, this, &ChipClient::replyTimedOut);
    connect(&port_, &SerialPort::communication, this, &ChipClient::onCommunication);
}

ChipClient::~ChipClient() = default;

void ChipClient::setClock(Clock clock) {
    clock_ = clock ? std::move(clock) : Clock(steadyNs);
}

quint64 ChipClient::submit(ChipRequest request, Completion completion) {
    Job job;
    job.id = nextId_++;
    job.request = std::move(request);
    job.completion = std::move(completion);
    job.result.id = job.id;
    job.result.frame = job.request.frame;
    job.result.opcode = job.request.frame.empty() ? 0 : job.request.frame.front();
    const quint64 id = job.id;
    queue_.push_back(std::move(job));
    pump();
    return id;
}

quint64 ChipClient::stopNow(Completion completion) {
    Job job;
    job.id = nextId_++;
    job.request.frame = singleFrame(Opcode::STOP);
    job.completion = std::move(completion);
    job.result.id = job.id;
    job.result.frame = job.request.frame;
    job.result.opcode = Opcode::STOP;
    const quint64 id = job.id;
    queue_.push_front(std::move(job));
    pump();
    return id;
}

void ChipClient::cancelAll(ChipError reason) {
    failAll(reason, chipErrorName(reason));
}

void ChipClient::end(const QString& why) {
    if (ended_)
        return;
    ended_ = true;
    endText_ = why;
    paceTimer_.stop();
    replyTimer_.stop();
    dropUnsent();
    // The frame in progress is cut too: the rest of a SET_REC going out after the run
    // would start a recording nobody stops.
    if (current_)
        current_->cancel.reset();
    std::deque<Job> queued;
    queued.swap(queue_);
    if (current_) {
        const QString text = QStringLiteral("%1: %2").arg(exchangeName(), why);
        completeLater(queued, ChipError::Cancelled, text);
    }
    for (Job& job : queued) {
        if (job.result.errorText.isEmpty())
            job.result.errorText = QStringLiteral("%1: %2").arg(named(job.result.opcode), why);
        finish(job, ChipError::Cancelled, job.result.errorText);
    }
}

void ChipClient::failAll(ChipError reason, const QString& what) {
    std::deque<Job> queued;
    queued.swap(queue_);
    if (current_ && phase_ == Phase::Sending && reason != ChipError::DeviceLost && port_.isOpen()) {
        // A frame that has started goes out whole (a cut frame would take the next frame's
        // bytes as its own); it completes with `reason` once its last byte has left.
        current_->cancel = reason;
        current_->cancelText = QStringLiteral("%1: %2").arg(exchangeName(), what);
    } else if (current_) {
        const QString text = QStringLiteral("%1: %2").arg(exchangeName(), what);
        paceTimer_.stop();
        completeLater(queued, reason, text);
    }
    for (Job& job : queued) {
        if (job.result.errorText.isEmpty())
            job.result.errorText = QStringLiteral("%1: %2").arg(named(job.result.opcode), what);
        finish(job, reason, job.result.errorText);
    }
}

void ChipClient::completeLater(std::deque<Job>& into, ChipError, const QString& text) {
    replyTimer_.stop();
    Job job = std::move(*current_);
    current_.reset();
    phase_ = Phase::Idle;
    job.result.errorText = text;
    into.push_front(std::move(job));
}

const std::vector<std::uint8_t>& ChipClient::exchangeFrame() const {
    static const std::vector<std::uint8_t> probe = singleFrame(Opcode::DEVID);
    return current_->probing ? probe : current_->request.frame;
}

QString ChipClient::exchangeName() const {
    if (current_->probing)
        return QStringLiteral("the status read (DEVID) after %1")
            .arg(named(current_->result.opcode));
    return named(current_->result.opcode);
}

void ChipClient::pump() {
    if (deviceLost_ && port_.isOpen())
        deviceLost_ = false; // opened again
    if (ended_ || deviceLost_) {
        // Nothing may go out any more: whatever was submitted fails at once.
        std::deque<Job> refused;
        refused.swap(queue_);
        for (Job& job : refused) {
            const QString why = ended_ ? endText_ : QStringLiteral("the device went away");
            job.result.errorText = QStringLiteral("%1: %2").arg(named(job.result.opcode), why);
            finish(job, ended_ ? ChipError::Cancelled : ChipError::DeviceLost,
                   job.result.errorText);
        }
        return;
    }
    if (completing_ || current_ || queue_.empty())
        return;
    current_ = std::move(queue_.front());
    queue_.pop_front();
    beginExchange();
}

void ChipClient::beginExchange() {
    sent_ = 0;
    reply_.clear();
    expected_ =
        current_->probing ? replyLength(Opcode::DEVID) : replyLength(current_->result.opcode);
    if (exchangeFrame().empty()) {
        complete(ChipError::None, {});
        return;
    }
    phase_ = Phase::Waiting;
    const qint64 now = clock_();
    if (!lastWriteNs_ || now - *lastWriteNs_ >= PaceMs * NsPerMs) {
        writeNext();
        return;
    }
    const qint64 waitNs = *lastWriteNs_ + PaceMs * NsPerMs - now;
    paceTimer_.start(static_cast<int>((waitNs + NsPerMs - 1) / NsPerMs));
}

void ChipClient::tick() {
    if (!ended_ && current_ && (phase_ == Phase::Waiting || phase_ == Phase::Sending))
        writeNext();
}

void ChipClient::writeNext() {
    if (!port_.isOpen()) {
        failAll(ChipError::PortClosed, QStringLiteral("the port is not open"));
        return;
    }
    const std::vector<std::uint8_t>& frame = exchangeFrame();
    if (sent_ == 0) {
        // The reply timer counts from a frame's last byte only, however short it is.
        replyTimer_.stop();
        // Whatever came in since the last reply belongs to no command of ours.
        const int stray = port_.bytesWaiting();
        port_.discardReceiveBuffer();
        if (stray > 0)
            emit strayBytes(stray);
    }
    phase_ = Phase::Sending;
    const std::uint8_t byte = frame[sent_++];
    port_.write(byte);
    const qint64 at = clock_();
    lastWriteNs_ = at;
    emit byteWritten(byte, at);
    if (sent_ < frame.size()) {
        paceTimer_.start(PaceMs);
        return;
    }
    if (!current_->probing)
        current_->result.lastByteNs = at;
    announceWhenOut(frame.front(), at);
    if (current_->cancel) {
        complete(*current_->cancel, current_->cancelText);
        return;
    }
    if (expected_ == 0) {
        exchangeDone();
        return;
    }
    phase_ = Phase::AwaitingReply;
    const int timeout = current_->request.timeoutMs > 0 ? current_->request.timeoutMs : timeoutMs_;
    replyTimer_.start(timeout);
}

void ChipClient::announceWhenOut(std::uint8_t opcode, qint64 writtenNs) {
    announceUnsent(); // a frame before it, still waiting: out by now
    if (port_.bytesUnsent() <= 0) {
        emit frameSent(opcode, writtenNs);
        return;
    }
    unsentOpcode_ = opcode;
    unsentSinceNs_ = writtenNs;
    lineTimer_.start();
}

void ChipClient::lineTick() {
    if (!unsentOpcode_) {
        lineTimer_.stop();
        return;
    }
    if (port_.isOpen() && port_.bytesUnsent() > 0 &&
        clock_() - unsentSinceNs_ < qint64(LineWaitMs) * NsPerMs)
        return;
    announceUnsent();
}

void ChipClient::dropUnsent() {
    lineTimer_.stop();
    unsentOpcode_.reset();
}

void ChipClient::announceUnsent() {
    lineTimer_.stop();
    if (!unsentOpcode_)
        return;
    const std::uint8_t opcode = *unsentOpcode_;
    unsentOpcode_.reset();
    emit frameSent(opcode, clock_());
}

void ChipClient::onCommunication(tamberlo::CommEvent kind) {
    if (kind == CommEvent::BytesReceived)
        announceUnsent(); // an answer: the frame before it has reached the far end
    else if (kind == CommEvent::DeviceLost)
        dropUnsent();
    if (kind == CommEvent::DeviceLost) {
        if (deviceLost_)
            return;
        deviceLost_ = true;
        paceTimer_.stop();
        failAll(ChipError::DeviceLost, QStringLiteral("the device went away"));
        emit deviceLost();
        return;
    }
    if (kind != CommEvent::BytesReceived || ended_)
        return;
    int stray = 0;
    while (port_.bytesWaiting() > 0) {
        const std::uint8_t byte = port_.read();
        emit byteRead(byte, clock_());
        if (current_ && phase_ == Phase::AwaitingReply && reply_.size() < expected_)
            reply_.push_back(byte);
        else
            ++stray;
    }
    if (stray > 0)
        emit strayBytes(stray);
    if (current_ && phase_ == Phase::AwaitingReply && reply_.size() == expected_) {
        replyTimer_.stop();
        exchangeDone();
    }
}

void ChipClient::replyTimedOut() {
    if (ended_ || !current_ || phase_ != Phase::AwaitingReply)
        return;
    QString text =
        QStringLiteral("no reply to %1 within %2 ms")
            .arg(exchangeName())
            .arg(current_->request.timeoutMs > 0 ? current_->request.timeoutMs : timeoutMs_);
    if (!reply_.empty())
        text = QStringLiteral("%1 (%2 of %3 bytes came)")
                   .arg(text.replace(QLatin1String("no reply"), QLatin1String("no complete reply")))
                   .arg(reply_.size())
                   .arg(expected_);
    if (!current_->probing)
        current_->result.reply = reply_;
    complete(ChipError::Timeout, text);
}

void ChipClient::exchangeDone() {
    Job& job = *current_;
    const DecodedReply decoded = decodeReply(exchangeFrame().front(), reply_);
    if (decoded.status)
        lastStatus_ = decoded.status;
    if (decoded.model)
        model_ = decoded.model;
    if (!job.probing) {
        job.result.reply = reply_;
        job.result.decoded = decoded;
        job.result.model = decoded.model;
        if (job.request.confirm) {
            job.probing = true;
            beginExchange();
            return;
        }
        complete(ChipError::None, {});
        return;
    }
    job.result.confirmation = decoded.status;
    job.result.confirmationReply = decoded;
    if (decoded.model)
        job.result.model = decoded.model;
    if (decoded.status && decoded.status->refused()) {
        complete(ChipError::Refused,
                 QStringLiteral("the chip refused %1 (CMD_ERR)").arg(named(job.result.opcode)));
        return;
    }
    complete(ChipError::None, {});
}

void ChipClient::complete(ChipError error, const QString& text) {
    replyTimer_.stop();
    Job job = std::move(*current_);
    current_.reset();
    phase_ = Phase::Idle;
    finish(job, error, text);
}

void ChipClient::finish(Job& job, ChipError error, const QString& text) {
    job.result.error = error;
    job.result.errorText = text;
    const bool outer = !completing_;
    completing_ = true;
    emit finished(job.result);
    if (job.completion)
        job.completion(job.result);
    if (!outer)
        return;
    completing_ = false;
    pump();
    if (isIdle())
        emit idle();
}

} // namespace tamberlo
