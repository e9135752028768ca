#include "support/SinkCapture.h"

#include "support/ProcessWait.h"
#include "support/RealTime.h"

#include <QDeadlineTimer>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <limits>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tamberlo::test {

namespace {

constexpr qint64 BurstGapUs = 300;                     // reads closer than this belong to one burst
constexpr qint64 AnchorWindow = SinkCapture::Rate / 2; // bursts within half a second count
constexpr int StartMs = 20000;

qint64 monotonicUs() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<qint64>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

} // namespace

SinkCapture::SinkCapture(const PulseServer& server, int latencyMs)
    : address_(server.address()), monitor_(server.monitorName()),
      latencyMs_(latencyMs > 0                  ? latencyMs
                 : server.options().blockMs > 0 ? server.options().blockMs
                                                : 1) {}

SinkCapture::~SinkCapture() {
    stop();
}

qint64 SinkCapture::nowUs() {
    return monotonicUs();
}

bool SinkCapture::start(QString* why) {
    const auto fail = [why](const QString& text) {
        if (why)
            *why = text;
        return false;
    };
    if (pid_ > 0)
        return true;
    errDir_ = std::make_unique<QTemporaryDir>();
    errPath_ = errDir_->filePath(QStringLiteral("parec.err"));

    // Everything the child needs, made before fork: after it only exec-safe calls.
    const QByteArray server = ("--server=" + address_).toUtf8();
    const QByteArray device = ("--device=" + monitor_).toUtf8();
    const QByteArray latency = "--latency-msec=" + QByteArray::number(latencyMs_);
    const QByteArray rate = "--rate=" + QByteArray::number(Rate);
    const QByteArray errPath = errPath_.toUtf8();
    const char* argv[] = {"parec",          server.constData(),  device.constData(),
                          "--raw",          "--format=s16le",    "--channels=1",
                          rate.constData(), latency.constData(), nullptr};
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return fail(QStringLiteral("pipe: %1").arg(errno));
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return fail(QStringLiteral("fork: %1").arg(errno));
    }
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent)
            ::_exit(127);
        ::dup2(fds[1], STDOUT_FILENO);
        stampAtRealTimePriority();
        const int err = ::open(errPath.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (err >= 0)
            ::dup2(err, STDERR_FILENO);
        ::execvp("parec", const_cast<char* const*>(argv));
        ::_exit(127);
    }
    ::close(fds[1]);
    pid_ = pid;
    reader_ = std::thread([this, fd = fds[0]] { readLoop(fd); });

    std::unique_lock lock(mutex_);
    const bool got = grown_.wait_for(lock, std::chrono::milliseconds(StartMs),
                                     [this] { return !data_.empty() || ended_; });
    if (!got || data_.empty()) {
        lock.unlock();
        stop();
        return fail(QStringLiteral("parec gave no sound (%1): %2")
                        .arg(got ? QStringLiteral("it ended, status %1").arg(exitStatus_)
                                 : QStringLiteral("nothing in %1 ms").arg(StartMs))
                        .arg(describe()));
    }
    return true;
}

void SinkCapture::readLoop(int fd) {
    stampAtRealTimePriority();
    std::vector<char> buffer(1 << 16);
    bool odd = false;
    char oddByte = 0;
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        const qint64 at = monotonicUs();
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        std::lock_guard lock(mutex_);
        const auto first = static_cast<qint64>(data_.size());
        qsizetype i = 0;
        if (odd) {
            const char pair[2] = {oddByte, buffer[0]};
            qint16 s;
            std::memcpy(&s, pair, 2);
            data_.push_back(s);
            i = 1;
            odd = false;
        }
        for (; i + 1 < n; i += 2) {
            qint16 s;
            std::memcpy(&s, buffer.data() + i, 2);
            data_.push_back(s);
        }
        if (i < n) {
            odd = true;
            oddByte = buffer[static_cast<size_t>(i)];
        }
        if (bursts_.empty() || at - lastReadUs_ > BurstGapUs)
            bursts_.push_back({at, first});
        lastReadUs_ = at;
        grown_.notify_all();
    }
    ::close(fd);
    std::lock_guard lock(mutex_);
    ended_ = true;
    grown_.notify_all();
}

void SinkCapture::stop() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        // parec ends within milliseconds; SIGKILL if it does not within 5 s.
        if (!waitForProcessEnd(pid_, QDeadlineTimer(5000)))
            ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        exitStatus_ = status;
        pid_ = -1;
    }
    if (reader_.joinable())
        reader_.join();
}

qint64 SinkCapture::sampleCount() const {
    std::lock_guard lock(mutex_);
    return static_cast<qint64>(data_.size());
}

qint64 SinkCapture::offsetNear(qint64 index) const {
    if (bursts_.empty())
        return 0;
    const auto lo = std::lower_bound(bursts_.begin(), bursts_.end(), index - AnchorWindow,
                                     [](const Burst& b, qint64 v) { return b.first < v; });
    qint64 best = std::numeric_limits<qint64>::max();
    for (auto it = lo; it != bursts_.end() && it->first <= index + AnchorWindow; ++it)
        best = std::min(best, it->us - it->first * 1000000 / Rate);
    if (best == std::numeric_limits<qint64>::max()) {
        // Beyond the captured range: the nearest burst.
        const Burst& b = lo == bursts_.end() ? bursts_.back() : *lo;
        best = b.us - b.first * 1000000 / Rate;
    }
    return best;
}

qint64 SinkCapture::usOf(qint64 index) const {
    std::lock_guard lock(mutex_);
    return offsetNear(index) + index * 1000000 / Rate;
}

qint64 SinkCapture::indexAtLocked(qint64 us) const {
    if (bursts_.empty())
        return 0;
    // A first guess from the burst that came in at about that time, then one correction.
    auto it = std::lower_bound(bursts_.begin(), bursts_.end(), us,
                               [](const Burst& b, qint64 v) { return b.us < v; });
    if (it == bursts_.end())
        --it;
    qint64 guess = it->first + (us - it->us) * Rate / 1000000;
    for (int i = 0; i < 2; ++i)
        guess = (us - offsetNear(guess)) * Rate / 1000000;
    return guess;
}

qint64 SinkCapture::sampleAt(qint64 us) const {
    std::lock_guard lock(mutex_);
    return indexAtLocked(us);
}

bool SinkCapture::waitUntilCaptured(qint64 us, int timeoutMs) {
    std::unique_lock lock(mutex_);
    return grown_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        return ended_ || (!data_.empty() &&
                          offsetNear(static_cast<qint64>(data_.size()) - 1) +
                                  (static_cast<qint64>(data_.size()) - 1) * 1000000 / Rate >=
                              us);
    }) && !data_.empty();
}

std::vector<qint16> SinkCapture::samples(qint64 fromUs, qint64 toUs) const {
    std::lock_guard lock(mutex_);
    const auto size = static_cast<qint64>(data_.size());
    const qint64 a = std::clamp<qint64>(indexAtLocked(fromUs), 0, size);
    const qint64 b = std::clamp<qint64>(indexAtLocked(toUs), a, size);
    return {data_.begin() + a, data_.begin() + b};
}

std::optional<qint64> SinkCapture::onsetUs(qint64 fromUs, qint64 toUs, int threshold) const {
    std::lock_guard lock(mutex_);
    const auto size = static_cast<qint64>(data_.size());
    const qint64 a = std::clamp<qint64>(indexAtLocked(fromUs), 0, size);
    const qint64 b = std::clamp<qint64>(indexAtLocked(toUs), a, size);
    for (qint64 i = a; i < b; ++i)
        if (std::abs(int(data_[size_t(i)])) > threshold)
            return offsetNear(i) + i * 1000000 / Rate;
    return std::nullopt;
}

std::optional<qint64> SinkCapture::offsetUs(qint64 fromUs, qint64 toUs, int threshold) const {
    std::lock_guard lock(mutex_);
    const auto size = static_cast<qint64>(data_.size());
    const qint64 a = std::clamp<qint64>(indexAtLocked(fromUs), 0, size);
    const qint64 b = std::clamp<qint64>(indexAtLocked(toUs), a, size);
    for (qint64 i = b - 1; i >= a; --i)
        if (std::abs(int(data_[size_t(i)])) > threshold)
            return offsetNear(i + 1) + (i + 1) * 1000000 / Rate;
    return std::nullopt;
}

QList<SinkCapture::Gap> SinkCapture::gaps(qint64 fromUs, qint64 toUs, qint64 minUs,
                                          int threshold) const {
    std::lock_guard lock(mutex_);
    const auto size = static_cast<qint64>(data_.size());
    const qint64 a = std::clamp<qint64>(indexAtLocked(fromUs), 0, size);
    const qint64 b = std::clamp<qint64>(indexAtLocked(toUs), a, size);
    QList<Gap> out;
    qint64 lastLoud = -1;
    for (qint64 i = a; i < b; ++i) {
        if (std::abs(int(data_[size_t(i)])) <= threshold)
            continue;
        if (lastLoud >= 0 && i - lastLoud - 1 >= minUs * Rate / 1000000) {
            out.push_back({offsetNear(lastLoud + 1) + (lastLoud + 1) * 1000000 / Rate,
                           offsetNear(i) + i * 1000000 / Rate});
        }
        lastLoud = i;
    }
    return out;
}

std::optional<SinkCapture::Gap> SinkCapture::longestQuiet(qint64 fromUs, qint64 toUs,
                                                          int threshold) const {
    std::lock_guard lock(mutex_);
    const auto size = static_cast<qint64>(data_.size());
    const qint64 a = std::clamp<qint64>(indexAtLocked(fromUs), 0, size);
    const qint64 b = std::clamp<qint64>(indexAtLocked(toUs), a, size);
    qint64 bestFrom = -1, bestLength = 0, runFrom = a;
    for (qint64 i = a; i <= b; ++i) {
        if (i < b && std::abs(int(data_[size_t(i)])) <= threshold)
            continue;
        if (i - runFrom > bestLength) {
            bestLength = i - runFrom;
            bestFrom = runFrom;
        }
        runFrom = i + 1;
    }
    if (bestFrom < 0)
        return std::nullopt;
    return Gap{offsetNear(bestFrom) + bestFrom * 1000000 / Rate,
               offsetNear(bestFrom + bestLength) + (bestFrom + bestLength) * 1000000 / Rate};
}

double SinkCapture::soundingMs(qint64 fromUs, qint64 toUs, qint64 minGapUs, int threshold) const {
    std::lock_guard lock(mutex_);
    const auto size = static_cast<qint64>(data_.size());
    const qint64 a = std::clamp<qint64>(indexAtLocked(fromUs), 0, size);
    const qint64 b = std::clamp<qint64>(indexAtLocked(toUs), a, size);
    const qint64 minGap = minGapUs * Rate / 1000000;
    qint64 first = -1, lastLoud = -1, quiet = 0;
    for (qint64 i = a; i < b; ++i) {
        if (std::abs(int(data_[size_t(i)])) <= threshold)
            continue;
        if (first < 0)
            first = i;
        if (lastLoud >= 0 && i - lastLoud - 1 >= minGap)
            quiet += i - lastLoud - 1;
        lastLoud = i;
    }
    if (first < 0)
        return 0;
    return double(lastLoud + 1 - first - quiet) * 1000.0 / Rate;
}

int SinkCapture::peak(qint64 fromUs, qint64 toUs) const {
    std::lock_guard lock(mutex_);
    const auto size = static_cast<qint64>(data_.size());
    const qint64 a = std::clamp<qint64>(indexAtLocked(fromUs), 0, size);
    const qint64 b = std::clamp<qint64>(indexAtLocked(toUs), a, size);
    int p = 0;
    for (qint64 i = a; i < b; ++i)
        p = std::max(p, std::abs(int(data_[size_t(i)])));
    return p;
}

QString SinkCapture::describe() const {
    QString text;
    {
        std::lock_guard lock(mutex_);
        text = QStringLiteral("%1 samples in %2 bursts, latency %3 ms")
                   .arg(data_.size())
                   .arg(bursts_.size())
                   .arg(latencyMs_);
    }
    QFile f(errPath_);
    if (f.open(QIODevice::ReadOnly)) {
        const QByteArray err = f.readAll().trimmed();
        if (!err.isEmpty())
            text += QStringLiteral("; parec: ") + QString::fromUtf8(err.right(1000));
    }
    return text;
}

double wavSoundingMs(const QString& path, int threshold) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray all = f.readAll();
    const auto u16 = [&](qsizetype at) {
        return quint32(quint8(all[at])) | quint32(quint8(all[at + 1])) << 8;
    };
    const auto u32 = [&](qsizetype at) { return u16(at) | u16(at + 2) << 16; };
    int channels = 0, rate = 0, bits = 0;
    qsizetype data = -1, dataBytes = 0;
    for (qsizetype at = 12; at + 8 <= all.size();) {
        const QByteArray id = all.mid(at, 4);
        const qsizetype size = u32(at + 4);
        if (id == "fmt " && at + 24 <= all.size()) {
            channels = int(u16(at + 10));
            rate = int(u32(at + 12));
            bits = int(u16(at + 22));
        } else if (id == "data") {
            data = at + 8;
            dataBytes = std::min(size, all.size() - data);
            break;
        }
        at += 8 + size + (size & 1);
    }
    if (data < 0 || bits != 16 || channels <= 0 || rate <= 0)
        return 0;
    const qsizetype frames = dataBytes / (2 * channels);
    qsizetype first = -1, last = -1, quiet = 0, lastLoud = -1;
    for (qsizetype i = 0; i < frames; ++i) {
        int sum = 0;
        for (int c = 0; c < channels; ++c)
            sum += qint16(u16(data + (i * channels + c) * 2));
        if (std::abs(sum / channels) <= threshold)
            continue;
        if (first < 0)
            first = i;
        if (lastLoud >= 0 && i - lastLoud - 1 >= rate / 200)
            quiet += i - lastLoud - 1;
        lastLoud = last = i;
    }
    if (first < 0)
        return 0;
    return double(last + 1 - first - quiet) * 1000.0 / rate;
}

bool decodeToWav(const QString& file, const QString& wavPath, QString* why) {
    QProcess p;
    p.start(QStringLiteral("gst-launch-1.0"),
            {QStringLiteral("-q"), QStringLiteral("filesrc"), QStringLiteral("location=") + file,
             QStringLiteral("!"), QStringLiteral("decodebin"), QStringLiteral("!"),
             QStringLiteral("audioconvert"), QStringLiteral("!"),
             QStringLiteral("audio/x-raw,format=S16LE"), QStringLiteral("!"),
             QStringLiteral("wavenc"), QStringLiteral("!"), QStringLiteral("filesink"),
             QStringLiteral("location=") + wavPath});
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        p.kill();
        p.waitForFinished();
        if (why)
            *why = QStringLiteral("gst-launch-1.0 could not decode %1: %2")
                       .arg(file, QString::fromLocal8Bit(p.readAllStandardError()));
        return false;
    }
    return true;
}

std::optional<SinkSound> soundAtSink(const PulseServer& server, const QString& wavPath,
                                     QString* why) {
    SinkCapture capture(server);
    if (!capture.start(why))
        return std::nullopt;
    const qint64 started = SinkCapture::nowUs();
    QProcess p;
    p.start(QStringLiteral("paplay"), {QStringLiteral("--server=") + server.address(), wavPath});
    const bool played =
        p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    const qint64 ended = SinkCapture::nowUs() + 300000;
    capture.waitUntilCaptured(ended, 10000);
    capture.stop();
    if (!played) {
        p.kill();
        p.waitForFinished();
        if (why)
            *why = QStringLiteral("paplay %1: %2")
                       .arg(wavPath, QString::fromLocal8Bit(p.readAllStandardError()));
        return std::nullopt;
    }
    const auto onset = capture.onsetUs(started, ended);
    const auto offset = onset ? capture.offsetUs(*onset, ended) : std::nullopt;
    if (!offset) {
        if (why)
            *why = QStringLiteral("paplay %1: nothing came out").arg(wavPath);
        return std::nullopt;
    }
    return SinkSound{*onset, *offset, capture.soundingMs(started, ended)};
}

qint64 promptBoundaryUs(const SinkCapture& capture, qint64 stopUs, qint64 nextRecUs) {
    const auto quiet = capture.longestQuiet(stopUs, std::max(stopUs, nextRecUs));
    return quiet ? (quiet->fromUs + quiet->toUs) / 2 : stopUs;
}

PromptSound measurePrompt(const SinkCapture& capture, qint64 fromUs, qint64 toUs, qint64 recUs,
                          qint64 stopUs, double contentMs) {
    PromptSound p;
    const auto onset = capture.onsetUs(fromUs, toUs);
    const auto offset = onset ? capture.offsetUs(*onset, toUs) : std::nullopt;
    if (!onset || !offset) {
        p.lostMs = p.cutMs = contentMs;
        return p;
    }
    p.heard = true;
    p.onsetUs = *onset;
    p.offsetUs = *offset;
    p.onsetAfterRecMs = (p.onsetUs - recUs) / 1000.0;
    p.stopAfterEndMs = (stopUs - p.offsetUs) / 1000.0;
    for (const SinkCapture::Gap& g : capture.gaps(p.onsetUs, p.offsetUs, 5000)) {
        p.quietMs += g.lengthUs() / 1000.0;
        p.longestGapMs = std::max(p.longestGapMs, g.lengthUs() / 1000.0);
    }
    const double outMs = capture.soundingMs(fromUs, toUs);
    p.cutMs = std::max(0.0, contentMs - outMs);
    const double beforeRec = std::max<qint64>(0, recUs - p.onsetUs) / 1000.0;
    const double afterStop = std::max<qint64>(0, p.offsetUs - stopUs) / 1000.0;
    p.lostMs = p.cutMs + std::min(beforeRec + afterStop, contentMs);
    return p;
}

} // namespace tamberlo::test
