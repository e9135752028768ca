#pragma once

// A private PulseAudio server for one test or benchmark process: what a player sends to the
// default output ends up in a null sink, whose monitor SinkCapture records. Nothing of the
// user's sound setup is touched; parallel test programs each get their own server.

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <memory>

namespace tamberlo::test {

struct PulseServerOptions {
    // The sink's block size in ms; 0: the server's default. PulseAudio 16's null sink has no
    // block size argument of its own: it renders blocks as long as the smallest latency any
    // stream on it asks for, so the capture asks for blockMs (SinkCapture::latencyMs) and the
    // sink's blocks are blockMs long unless a player asks for less (sinkLatencyUs tells).
    int blockMs = 0;
    bool noRewinds = false; // null sink without rewinds
};

// A private PulseAudio server: its own runtime directory and home under a temporary
// directory, a config that loads only the native protocol (anonymous access) and a null sink
// ("tamberlo_null", 48 kHz stereo) as the default output; started with
// `pulseaudio -n -F <file> --daemonize=no --exit-idle-time=-1 --disallow-exit` (works as root)
// with a listener (parec) on the monitor that keeps the idle sink near its clock, as a device
// is; stopped by its PID in the destructor (SIGTERM, then SIGKILL after 5 s; the server also gets
// SIGTERM if this process dies first). While it lives, PULSE_SERVER, PULSE_RUNTIME_PATH and
// PULSE_COOKIE point this process and its children at it; the destructor restores them.
class PulseServer {
public:
    explicit PulseServer(PulseServerOptions options = {});
    ~PulseServer();
    PulseServer(const PulseServer&) = delete;
    PulseServer& operator=(const PulseServer&) = delete;

    bool ok() const;          // the server answers (pactl info)
    QString error() const;    // why not
    QString address() const;  // "unix:/…/native"
    QString sinkName() const; // "tamberlo_null"
    QString monitorName() const;
    qint64 pid() const;
    const PulseServerOptions& options() const { return options_; }

    // Runs pactl against this server; its standard output, or an empty string on failure.
    QString pactl(const QStringList& arguments) const;
    // The latency the sink is configured for now (µs), from `pactl list sinks`; -1 if unknown.
    qint64 sinkLatencyUs() const;
    // What the sink holds ahead of its clock now (µs), from `pactl list sinks`; -1 if unknown.
    qint64 sinkPlayingLatencyUs() const;
    // The server's own log so far (standard error), for a failure report.
    QString log() const;

    // Points PULSE_SERVER at a socket nobody listens on (the "no output" case) until destroyed.
    struct Nowhere {
        Nowhere();
        ~Nowhere();
        Nowhere(const Nowhere&) = delete;
        Nowhere& operator=(const Nowhere&) = delete;
        QByteArray saved;
        bool wasSet = false;
        QTemporaryDir dir;
    };

private:
    void stop();
    qint64 sinkLatencyField(int field) const;

    PulseServerOptions options_;
    QTemporaryDir dir_;
    std::unique_ptr<QProcess> process_;
    std::unique_ptr<QProcess> listener_; // parec on the monitor, for the server's lifetime
    QString address_;
    QString error_;
    bool ok_ = false;
    struct Saved {
        QByteArray name;
        QByteArray value;
        bool wasSet = false;
    };
    Saved saved_[3];
};

} // namespace tamberlo::test
