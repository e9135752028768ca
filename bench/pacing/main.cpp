// Pacing benchmark: 100 five-byte frames through the real serial adapter and the transmitter
// to a pseudo-terminal. A thread on the master side plays the bridge board: it stamps every
// byte as it arrives and answers each frame with five reply bytes, about 1 ms apart as at
// 9600 baud. Printed: |gap - 50 ms| between the bytes of a frame, and the delay from the
// last reply byte written to the tty until the receiver's action runs.
//
// For reference a thread of its own measures, during the run, how far plain 50 ms sleeps miss
// on this machine: the pacing can be no steadier than the machine wakes a sleeping thread.
//
// Usage: tamberlo_bench_pacing [frames]

#include "PtyPair.h"
#include "link/PortResolver.h"
#include "link/QtSerialPort.h"
#include "link/Receiver.h"
#include "link/Transmitter.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

using namespace tamberlo;
using tamberlo::test::Clock;
using tamberlo::test::PtyPair;

namespace {

constexpr std::size_t FrameBytes = 5;
constexpr std::int16_t PortNumber = 1;

// The real adapter, with the moment each byte is handed to it.
class StampedPort : public QtSerialPort {
public:
    void write(std::uint8_t byte) override {
        writes.push_back(Clock::now());
        QtSerialPort::write(byte);
    }
    std::vector<Clock::time_point> writes;
};

// The bridge board on the master side of the pair.
class Board {
public:
    Board(int fd, std::size_t frames) : fd_(fd), frames_(frames), thread_([this] { run(); }) {}
    ~Board() { finish(); }
    // Read these only after finish().
    const std::vector<Clock::time_point>& arrivals() const { return arrivals_; }
    const std::vector<Clock::time_point>& replyWritten() const { return replyWritten_; }
    void finish() {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
    }

private:
    void run() {
        const char reply[FrameBytes] = {0x00, 0x00, 0x10, 0x00, 0x20};
        while (!stop_ && replyWritten_.size() < frames_) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0 || !(p.revents & POLLIN))
                continue;
            std::uint8_t buf[64];
            const ssize_t n = ::read(fd_, buf, sizeof buf);
            const Clock::time_point now = Clock::now();
            if (n <= 0)
                continue;
            for (ssize_t i = 0; i < n; ++i)
                arrivals_.push_back(now);
            if (arrivals_.size() % FrameBytes != 0)
                continue;
            // A whole frame is in: the board thinks a little, then answers byte by byte.
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            for (std::size_t i = 0; i < FrameBytes; ++i) {
                if (i > 0)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                if (::write(fd_, &reply[i], 1) != 1)
                    std::perror("write to master");
            }
            replyWritten_.push_back(Clock::now());
        }
    }

    int fd_;
    std::size_t frames_;
    std::atomic<bool> stop_{false};
    std::vector<Clock::time_point> arrivals_;
    std::vector<Clock::time_point> replyWritten_;
    std::thread thread_;
};

struct Figures {
    double p50 = 0, p99 = 0, max = 0;
    std::size_t count = 0;
};

Figures figuresOf(std::vector<double> values) {
    Figures f;
    f.count = values.size();
    if (values.empty())
        return f;
    std::sort(values.begin(), values.end());
    auto at = [&](double q) {
        const auto rank = static_cast<std::size_t>(std::ceil(q * double(values.size())));
        return values[std::min(values.size() - 1, rank == 0 ? 0 : rank - 1)];
    };
    f.p50 = at(0.50);
    f.p99 = at(0.99);
    f.max = values.back();
    return f;
}

double msBetween(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const std::size_t frames = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100;

    std::atomic<bool> running{true};
    std::vector<double> sleepErrors;
    std::thread reference([&] {
        while (running) {
            const Clock::time_point before = Clock::now();
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            sleepErrors.push_back(std::abs(msBetween(before, Clock::now()) - 50.0));
        }
    });

    QTemporaryDir runtime;
    if (!runtime.isValid())
        return 1;
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    QDir(runtime.path()).mkpath(QStringLiteral("tamberlo"));
    PtyPair pty;
    if (!pty.isValid() || !QFile::link(pty.slaveName(), portLinkPath(PortNumber))) {
        std::fprintf(stderr, "no pseudo-terminal\n");
        return 1;
    }

    StampedPort port;
    port.setPortNumber(PortNumber);
    if (!port.open()) {
        std::fprintf(stderr, "open failed: %s\n", qPrintable(port.errorText()));
        return 1;
    }
    Receiver receiver(port);
    Transmitter tx(port, receiver);
    QObject::connect(&tx, &Transmitter::portClosed,
                     [] { std::fprintf(stderr, "refused: the port is not open\n"); });
    Board board(pty.master(), frames);

    std::vector<Clock::time_point> actionAt;
    auto sendFrame = [&] {
        receiver.setRecvCnt(0);
        receiver.setRecvExpect(FrameBytes);
        tx.SendBuf = {0x80, 0x00, 0x10, 0x00, 0x20};
        tx.Isd_Comm2_Send(FrameBytes);
    };
    receiver.setReplyAction([&] {
        actionAt.push_back(Clock::now());
        if (actionAt.size() < frames)
            QTimer::singleShot(0, &app, sendFrame);
        else
            QTimer::singleShot(0, &app, &QCoreApplication::quit);
    });
    QTimer::singleShot(0, &app, sendFrame);
    QTimer::singleShot(int(frames) * 500 + 5000, &app, [&] {
        std::fprintf(stderr, "timed out after %zu replies\n", actionAt.size());
        QCoreApplication::exit(2);
    });
    const int rc = app.exec();
    board.finish();
    running = false;
    reference.join();

    auto gapErrorsOf = [](const std::vector<Clock::time_point>& times) {
        std::vector<double> errors;
        for (std::size_t i = 1; i < times.size(); ++i) {
            if (i % FrameBytes != 0) // within a frame
                errors.push_back(std::abs(msBetween(times[i - 1], times[i]) - 50.0));
        }
        return errors;
    };
    std::vector<double> replyDelays;
    const auto& written = board.replyWritten();
    for (std::size_t i = 0; i < std::min(written.size(), actionAt.size()); ++i)
        replyDelays.push_back(msBetween(written[i], actionAt[i]));

    const Figures gaps = figuresOf(gapErrorsOf(board.arrivals()));
    const Figures ticks = figuresOf(gapErrorsOf(port.writes));
    const Figures delays = figuresOf(replyDelays);
    const char* dispatcher = QAbstractEventDispatcher::instance()
                                 ? QAbstractEventDispatcher::instance()->metaObject()->className()
                                 : "?";
    std::printf("pacing: %zu frames of %zu bytes, event dispatcher %s\n", actionAt.size(),
                FrameBytes, dispatcher);
    std::printf("|gap - 50 ms| over %zu gaps:   p50 %.3f ms   p99 %.3f ms   max %.3f ms\n",
                gaps.count, gaps.p50, gaps.p99, gaps.max);
    std::printf("  the same at the writes:     p50 %.3f ms   p99 %.3f ms   max %.3f ms\n",
                ticks.p50, ticks.p99, ticks.max);
    std::printf("reply delay over %zu replies:  p50 %.3f ms   p99 %.3f ms   max %.3f ms\n",
                delays.count, delays.p50, delays.p99, delays.max);
    const Figures sleeps = figuresOf(sleepErrors);
    std::printf("reference, |sleep(50 ms) - 50 ms| over %zu sleeps: p50 %.3f ms   p99 %.3f ms   "
                "max %.3f ms\n",
                sleeps.count, sleeps.p50, sleeps.p99, sleeps.max);
    std::printf("targets: p99 gap error <= 1 ms, reply delay <= 2 ms\n");
    return rc;
}
