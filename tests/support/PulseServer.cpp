#include "support/PulseServer.h"

#include "support/ProcessWait.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QThread>

#include <algorithm>
#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

namespace tamberlo::test {

namespace {

constexpr int StartMs = 20000; // a busy machine (parallel builds, the sanitizers) is slow
constexpr int StopMs = 5000;

} // namespace

PulseServer::PulseServer(PulseServerOptions options) : options_(options) {
    const char* names[] = {"PULSE_SERVER", "PULSE_RUNTIME_PATH", "PULSE_COOKIE"};
    for (int i = 0; i < 3; ++i) {
        saved_[i].name = names[i];
        saved_[i].wasSet = qEnvironmentVariableIsSet(names[i]);
        saved_[i].value = qgetenv(names[i]);
    }
    if (!dir_.isValid()) {
        error_ = QStringLiteral("no temporary directory: %1").arg(dir_.errorString());
        return;
    }
    const QString runtime = dir_.filePath(QStringLiteral("rt"));
    const QString home = dir_.filePath(QStringLiteral("home"));
    QDir().mkpath(runtime);
    QDir().mkpath(home + QStringLiteral("/.config/pulse"));
    QFile::setPermissions(runtime,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const QString socket = runtime + QStringLiteral("/native");
    address_ = QStringLiteral("unix:") + socket;

    // The socket last: once it is there, the sink and the default output are in place.
    QString script;
    script += QStringLiteral("load-module module-null-sink sink_name=%1 rate=48000 channels=2"
                             " format=s16le%2\n")
                  .arg(sinkName(), options_.noRewinds ? QStringLiteral(" norewinds=1") : QString());
    script += QStringLiteral("set-default-sink %1\n").arg(sinkName());
    script += QStringLiteral("load-module module-native-protocol-unix auth-anonymous=1 socket=%1\n")
                  .arg(socket);
    const QString scriptPath = dir_.filePath(QStringLiteral("server.pa"));
    {
        QFile f(scriptPath);
        if (!f.open(QIODevice::WriteOnly) || f.write(script.toUtf8()) < 0) {
            error_ = QStringLiteral("cannot write %1").arg(scriptPath);
            return;
        }
    }

    process_ = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
    env.insert(QStringLiteral("PULSE_RUNTIME_PATH"), runtime);
    env.insert(QStringLiteral("PULSE_STATE_PATH"), dir_.filePath(QStringLiteral("state")));
    env.remove(QStringLiteral("PULSE_SERVER"));
    env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    env.remove(QStringLiteral("DISPLAY"));
    process_->setProcessEnvironment(env);
    process_->setStandardOutputFile(dir_.filePath(QStringLiteral("server.log")));
    process_->setStandardErrorFile(dir_.filePath(QStringLiteral("server.log")), QIODevice::Append);
    // The server goes when this process goes, even if it dies without running destructors.
    process_->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    process_->start(QStringLiteral("pulseaudio"),
                    {QStringLiteral("-n"), QStringLiteral("-F"), scriptPath,
                     QStringLiteral("--daemonize=no"), QStringLiteral("--exit-idle-time=-1"),
                     QStringLiteral("--disallow-exit"), QStringLiteral("--use-pid-file=no"),
                     QStringLiteral("--log-target=stderr")});
    if (!process_->waitForStarted(StartMs)) {
        error_ = QStringLiteral("pulseaudio did not start: %1").arg(process_->errorString());
        process_.reset();
        return;
    }

    // This process and everything it starts from now on play through this server.
    qputenv("PULSE_SERVER", address_.toUtf8());
    qputenv("PULSE_RUNTIME_PATH", runtime.toUtf8());
    qputenv("PULSE_COOKIE", (home + QStringLiteral("/.config/pulse/cookie")).toUtf8());

    // The server takes its first client once it has run the whole script and entered its main
    // loop; pactl waits for that.
    const bool socketMade =
        waitForPath(socket, pid_t(process_->processId()), QDeadlineTimer(StartMs));
    if (process_->state() == QProcess::NotRunning ||
        (!socketMade && process_->waitForFinished(0))) {
        error_ = QStringLiteral("pulseaudio exited (%1): %2")
                     .arg(process_->exitCode())
                     .arg(log().right(2000));
        return;
    }
    if (!socketMade) {
        error_ = QStringLiteral("pulseaudio made no socket within %1 ms: %2")
                     .arg(StartMs)
                     .arg(log().right(2000));
        return;
    }
    if (!pactl({QStringLiteral("info")}).contains(QStringLiteral("Default Sink: ") + sinkName())) {
        error_ = QStringLiteral("pulseaudio did not answer: %1").arg(log().right(2000));
        return;
    }
    // Something listens to the output the whole time, as a sound card's converter does: a
    // null sink that has idled renders up to two seconds ahead and takes back no more than its
    // new latency, so a player would wait that long for its first sample. The listener asks
    // for the condition's block (or 10 ms), and the server is ready once the sink is down to it.
    const int listenMs = options_.blockMs > 0 ? options_.blockMs : 10;
    listener_ = std::make_unique<QProcess>();
    listener_->setStandardOutputFile(QProcess::nullDevice());
    listener_->start(QStringLiteral("parec"),
                     {QStringLiteral("--raw"), QStringLiteral("--latency-msec=%1").arg(listenMs),
                      QStringLiteral("-d"), monitorName()});
    const qint64 settledUs = std::max<qint64>(100000, 3000LL * listenMs);
    QDeadlineTimer settle(StartMs);
    qint64 latencyUs = -1;
    while (!settle.hasExpired()) {
        latencyUs = sinkPlayingLatencyUs();
        if (latencyUs >= 0 && latencyUs < settledUs)
            break;
        QThread::msleep(20); // the sink's latency has no event to wait on
    }
    if (latencyUs < 0 || latencyUs >= settledUs) {
        error_ = QStringLiteral("the null sink did not settle: latency %1 us").arg(latencyUs);
        return;
    }
    ok_ = true;
}

PulseServer::~PulseServer() {
    stop();
    for (const Saved& s : saved_) {
        if (s.wasSet)
            qputenv(s.name.constData(), s.value);
        else
            qunsetenv(s.name.constData());
    }
}

void PulseServer::stop() {
    if (listener_) {
        listener_->kill();
        listener_->waitForFinished(StopMs);
        listener_.reset();
    }
    if (!process_)
        return;
    if (process_->state() != QProcess::NotRunning) {
        const auto id = static_cast<pid_t>(process_->processId());
        if (id > 0)
            ::kill(id, SIGTERM);
        if (!process_->waitForFinished(StopMs)) {
            if (id > 0)
                ::kill(id, SIGKILL);
            process_->waitForFinished(StopMs);
        }
    }
    process_.reset();
}

bool PulseServer::ok() const {
    return ok_;
}
QString PulseServer::error() const {
    return error_;
}
QString PulseServer::address() const {
    return address_;
}
QString PulseServer::sinkName() const {
    return QStringLiteral("tamberlo_null");
}
QString PulseServer::monitorName() const {
    return sinkName() + QStringLiteral(".monitor");
}
qint64 PulseServer::pid() const {
    return process_ ? process_->processId() : 0;
}

QString PulseServer::pactl(const QStringList& arguments) const {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PULSE_SERVER"), address_);
    p.setProcessEnvironment(env);
    p.start(QStringLiteral("pactl"), arguments);
    if (!p.waitForFinished(StartMs) || p.exitStatus() != QProcess::NormalExit ||
        p.exitCode() != 0) {
        p.kill();
        p.waitForFinished(1000);
        return {};
    }
    return QString::fromUtf8(p.readAllStandardOutput());
}

// `pactl list sinks` says "Latency: <held ahead> usec, configured <asked for> usec".
qint64 PulseServer::sinkLatencyField(int field) const {
    const QString text = pactl({QStringLiteral("list"), QStringLiteral("sinks")});
    static const QRegularExpression latency(
        QStringLiteral("Latency: (\\d+) usec, configured (\\d+) usec"));
    const auto m = latency.match(text);
    return m.hasMatch() ? m.captured(field).toLongLong() : -1;
}

qint64 PulseServer::sinkLatencyUs() const {
    return sinkLatencyField(2);
}

qint64 PulseServer::sinkPlayingLatencyUs() const {
    return sinkLatencyField(1);
}

QString PulseServer::log() const {
    QFile f(dir_.filePath(QStringLiteral("server.log")));
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

PulseServer::Nowhere::Nowhere() {
    wasSet = qEnvironmentVariableIsSet("PULSE_SERVER");
    saved = qgetenv("PULSE_SERVER");
    // A path in an empty directory of our own: nothing can be listening there.
    qputenv("PULSE_SERVER", ("unix:" + dir.filePath(QStringLiteral("nobody"))).toUtf8());
}

PulseServer::Nowhere::~Nowhere() {
    if (wasSet)
        qputenv("PULSE_SERVER", saved);
    else
        qunsetenv("PULSE_SERVER");
}

} // namespace tamberlo::test
