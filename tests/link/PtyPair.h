#pragma once

// A pseudo-terminal pair standing in for the bridge board: the panel opens the slave like a
// serial device, the test (or benchmark) plays the board on the master side.

#include <QByteArray>
#include <QString>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>
#if defined(__APPLE__)
#include <util.h>
#else
#include <pty.h>
#endif

namespace tamberlo::test {

using Clock = std::chrono::steady_clock;

class PtyPair {
public:
    PtyPair() {
        termios raw{};
        ::cfmakeraw(&raw);
        char name[256] = {};
        if (::openpty(&master_, &slave_, name, &raw, nullptr) != 0) {
            master_ = slave_ = -1;
            return;
        }
        slaveName_ = QString::fromLocal8Bit(name);
    }
    ~PtyPair() {
        closeMaster();
        if (slave_ >= 0)
            ::close(slave_);
    }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool isValid() const { return slave_ >= 0; }
    int master() const { return master_; }
    QString slaveName() const { return slaveName_; }

    // Writes to the panel's side of the line; false on a short or failed write.
    bool send(const QByteArray& bytes) const {
        return master_ >= 0 &&
               ::write(master_, bytes.constData(), size_t(bytes.size())) == ssize_t(bytes.size());
    }

    // Hangs the line up: the slave side sees the other end go away.
    void closeMaster() {
        if (master_ >= 0)
            ::close(master_);
        master_ = -1;
    }

private:
    int master_ = -1;
    // Held open for the pair's lifetime, so the master keeps working while the panel has the
    // slave closed.
    int slave_ = -1;
    QString slaveName_;
};

// Reads the master side on a thread of its own and stamps every byte as it arrives.
class MasterReader {
public:
    struct Arrival {
        std::uint8_t byte;
        Clock::time_point at;
    };

    explicit MasterReader(int masterFd) : fd_(masterFd), thread_([this] { run(); }) {}
    ~MasterReader() {
        stop_ = true;
        thread_.join();
    }

    std::vector<Arrival> arrivals() const {
        std::lock_guard lock(mutex_);
        return arrivals_;
    }
    std::size_t count() const {
        std::lock_guard lock(mutex_);
        return arrivals_.size();
    }
    QByteArray bytes() const {
        QByteArray out;
        for (const Arrival& a : arrivals())
            out.append(char(a.byte));
        return out;
    }

private:
    void run() {
        while (!stop_) {
            pollfd p{fd_, POLLIN, 0};
            const int ready = ::poll(&p, 1, 20);
            if (ready <= 0 || !(p.revents & POLLIN)) {
                if (ready > 0) // hung up or in error: do not spin on it
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                continue;
            }
            std::uint8_t buf[256];
            const ssize_t n = ::read(fd_, buf, sizeof buf);
            const Clock::time_point now = Clock::now();
            if (n <= 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                continue;
            }
            std::lock_guard lock(mutex_);
            for (ssize_t i = 0; i < n; ++i)
                arrivals_.push_back({buf[i], now});
        }
    }

    int fd_;
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    std::vector<Arrival> arrivals_;
    std::thread thread_;
};

} // namespace tamberlo::test
