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

} // namespace tamberlo::test
