#pragma once
// A private PulseAudio server with a null sink ("tamberlo_null") as its default output, for the
// tests that play sound; PULSE_SERVER points this process at it while it lives. Temporary:
// the shared sound rig of the test support library replaces it.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QtGlobal>
#include <algorithm>
#include <cstdint>
#include <time.h>
#include <vector>

namespace tamberlo::test {

class PulseRig {
public:
    PulseRig() {
        const QString pulseaudio = QStandardPaths::findExecutable(QStringLiteral("pulseaudio"));
        if (pulseaudio.isEmpty() || !dir_.isValid()) {
            error_ = QStringLiteral("pulseaudio is not installed");
            return;
        }
        QDir(dir_.path()).mkpath(QStringLiteral("rt"));
        QDir(dir_.path()).mkpath(QStringLiteral("home"));
        QFile config(dir_.filePath(QStringLiteral("default.pa")));
        if (!config.open(QIODevice::WriteOnly))
            return;
        config.write("load-module module-native-protocol-unix\n"
                     "load-module module-null-sink sink_name=tamberlo_null norewinds=1\n"
                     "set-default-sink tamberlo_null\n");
        config.close();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), dir_.filePath(QStringLiteral("home")));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir_.filePath(QStringLiteral("rt")));
        env.insert(QStringLiteral("PULSE_RUNTIME_PATH"), dir_.filePath(QStringLiteral("rt")));
        env.remove(QStringLiteral("PULSE_SERVER"));
        server_.setProcessEnvironment(env);
        server_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        server_.start(pulseaudio,
                      {QStringLiteral("-n"), QStringLiteral("-F"), config.fileName(),
                       QStringLiteral("--daemonize=no"), QStringLiteral("--exit-idle-time=-1"),
                       QStringLiteral("--disallow-exit")});
        const QString socket = dir_.filePath(QStringLiteral("rt/native"));
        for (int i = 0; i < 100 && !QFile::exists(socket); ++i)
            QThread::msleep(50);
        if (!QFile::exists(socket)) {
            error_ = QStringLiteral("the private sound server did not start");
            return;
        }
        saved_ = qgetenv("PULSE_SERVER");
        qputenv("PULSE_SERVER", "unix:" + socket.toLocal8Bit());
        ok_ = true;
    }
    ~PulseRig() {
        stop();
        if (saved_.isEmpty())
            qunsetenv("PULSE_SERVER");
        else
            qputenv("PULSE_SERVER", saved_);
    }
    // Ends the server (mid-play, for the tests of a lost output).
    void stop() {
        if (server_.state() == QProcess::NotRunning)
            return;
        server_.terminate();
        if (!server_.waitForFinished(3000))
            server_.kill();
        server_.waitForFinished(3000);
    }
    bool ok() const { return ok_; }
    QString error() const { return error_; }

    // PULSE_SERVER at a socket nobody listens on, while it lives.
    struct Nowhere {
        Nowhere() : saved(qgetenv("PULSE_SERVER")) {
            qputenv("PULSE_SERVER", "unix:/nonexistent/tamberlo/native");
        }
        ~Nowhere() { qputenv("PULSE_SERVER", saved); }
        QByteArray saved;
    };

private:
    QTemporaryDir dir_;
    QProcess server_;
    QByteArray saved_;
    QString error_;
    bool ok_ = false;
};

inline double monotonicMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec) * 1000.0 + double(now.tv_nsec) / 1e6;
}

// What comes out of the default sink, as its monitor records it (parec, 48 kHz mono, 1 ms
// latency), with the monotonic time of each sample: reads can only come late, so the earliest
// time any read puts on the first sample is its time.
class MonitorCapture {
public:
    static constexpr int Rate = 48000;

    bool start() {
        const QString parec = QStandardPaths::findExecutable(QStringLiteral("parec"));
        if (parec.isEmpty())
            return false;
        QObject::connect(&process_, &QProcess::readyReadStandardOutput, [this] { read(); });
        process_.start(parec, {QStringLiteral("--latency-msec=1"), QStringLiteral("-d"),
                               QStringLiteral("tamberlo_null.monitor"), QStringLiteral("--raw"),
                               QStringLiteral("--format=s16le"), QStringLiteral("--rate=48000"),
                               QStringLiteral("--channels=1")});
        return process_.waitForStarted(3000);
    }
    void stop() {
        read();
        process_.terminate();
        process_.waitForFinished(3000);
    }
    // The monotonic time of sample `index`, in milliseconds.
    double timeOf(std::int64_t index) const { return firstMs_ + double(index) * 1000.0 / Rate; }
    const std::vector<std::int16_t>& samples() const { return samples_; }

    // Windows of 3 ms where the sound is above `level`: the first and last sample of the
    // sound, and the longest quiet stretch between them (ms). -1 when there is no sound.
    struct Sound {
        std::int64_t first = -1;
        std::int64_t last = -1;
        double longestGapMs = 0;
    };
    Sound sound(int level = 1000) const {
        Sound result;
        constexpr int Window = Rate * 3 / 1000;
        std::int64_t quietSince = -1;
        for (std::size_t w = 0; w + Window <= samples_.size(); w += Window) {
            int peak = 0;
            for (std::size_t i = w; i < w + Window; ++i)
                peak = std::max(peak, std::abs(int(samples_[i])));
            if (peak < level) {
                if (result.first >= 0 && quietSince < 0)
                    quietSince = std::int64_t(w);
                continue;
            }
            if (result.first < 0) {
                for (std::size_t i = w; i < w + Window; ++i)
                    if (std::abs(int(samples_[i])) >= level / 4) {
                        result.first = std::int64_t(i);
                        break;
                    }
            } else if (quietSince >= 0) {
                result.longestGapMs = std::max(result.longestGapMs,
                                               double(std::int64_t(w) - quietSince) * 1000 / Rate);
            }
            quietSince = -1;
            for (std::size_t i = w + Window; i-- > w;)
                if (std::abs(int(samples_[i])) >= level / 4) {
                    result.last = std::int64_t(i);
                    break;
                }
        }
        return result;
    }

private:
    void read() {
        const QByteArray bytes = process_.readAllStandardOutput();
        if (bytes.isEmpty())
            return;
        pending_ += bytes;
        const qsizetype whole = pending_.size() / 2 * 2;
        const auto* data = reinterpret_cast<const std::int16_t*>(pending_.constData());
        samples_.insert(samples_.end(), data, data + whole / 2);
        pending_.remove(0, whole);
        const double estimate = monotonicMs() - double(samples_.size()) * 1000.0 / Rate;
        firstMs_ = std::min(firstMs_, estimate);
    }

    QProcess process_;
    QByteArray pending_;
    std::vector<std::int16_t> samples_;
    double firstMs_ = 1e300;
};

} // namespace tamberlo::test
