#pragma once

#include "audio/AudioPlayer.h"
#include "link/SerialPort.h"
#include "widgets/FileDialog.h"
#include "widgets/MessageBoxes.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QList>
#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <vector>

namespace tamberlo::test {

// Records every box instead of showing it. onShow runs while the "box is open", as a
// nested event loop would let other events through; it may wait for events itself.
class FakeMessageBoxes : public MessageBoxes {
public:
    struct Box {
        QString text;
        QString title;
        MessageIcon icon;
    };
    void show(const QString& text, const QString& title, MessageIcon icon) override {
        boxes.push_back({text, title, icon});
        // A copy: the handler may replace or clear onShow while it runs.
        if (const std::function<void(const Box&)> handler = onShow)
            handler(boxes.back());
    }
    QList<Box> boxes;
    std::function<void(const Box&)> onShow;
};

// A serial port in memory: tests inject reply bytes in any grouping and read back every
// byte written, with the calls that surround the writes.
class FakeSerialPort : public SerialPort {
    Q_OBJECT
public:
    void setPortNumber(std::int16_t number) override { number_ = number; }
    std::int16_t portNumber() const override { return number_; }
    bool open() override;
    QString errorText() const override { return failOpenWith; }
    OpenFailure openFailure() const override { return failOpenKind; }
    void close() override { open_ = false; }
    bool isOpen() const override { return open_; }
    void selectBinaryMode() override { ++binaryModeCalls; }
    void discardTransmitBuffer() override { log.push_back(QStringLiteral("discard-tx")); }
    void write(std::uint8_t byte) override;
    int bytesWaiting() const override { return static_cast<int>(input.size()); }
    int bytesUnsent() const override { return unsent; }
    std::uint8_t read() override;
    void discardReceiveBuffer() override;
    void discardInput() override;
    void setReceiveThreshold(int threshold) override { threshold_ = threshold; }
    int receiveThreshold() const { return threshold_; }

    // Puts bytes in the input buffer and raises one notification for all of them (when the
    // threshold allows it, and no notification is being handled).
    void inject(const QByteArray& bytes);
    void raise(CommEvent kind) { emit communication(kind); }

    QString failOpenWith;                          // non-empty: open() fails with this text
    OpenFailure failOpenKind = OpenFailure::Other; // reported with failOpenWith
    int openCalls = 0;
    QByteArray written; // every byte written, in order
    int unsent = 0;     // what bytesUnsent() says: written bytes the "system" still holds
    QStringList log;    // "discard-tx", "write XX", "discard-rx", "discard-input"
    int binaryModeCalls = 0;
    std::deque<std::uint8_t> input;
    // Bytes that "arrive" while the receiver drains, appended on the first read.
    QByteArray arriveDuringDrain;

private:
    std::int16_t number_ = 0;
    bool open_ = false;
    int threshold_ = 1;
    bool notifying_ = false;
};

// Runs what has been queued to run once the current notification has returned, the reply
// actions of the receiver among it, as the event loop would next.
inline void runQueued() {
    QCoreApplication::sendPostedEvents();
}

// A player that only records what it is told and reports what a test sets.
class FakeAudioPlayer : public AudioPlayer {
    Q_OBJECT
public:
    void command(PlayerCommand command) override;
    PlayerCommand lastCommand() const override { return last_; }
    void setWait(bool wait) override { waitSet = wait; }
    void setFileName(const QString& fileName) override { fileName_ = fileName; }
    QString fileName() const override { return fileName_; }
    std::int32_t length() const override { return open_ ? fileLength : 0; }
    std::int32_t mode() const override { return modeValue; }
    QString errorText() const override { return open_ ? QString() : openError; }
    void setUpdateInterval(int ms) override { interval_ = ms; }
    int updateInterval() const override { return interval_; }
    void setStartPoint(std::int32_t ms) override { startPoint = ms; }
    void setOutputDevice(const QByteArray& id) override { outputDevice = id; }
    bool outputReady(QString* why) const override {
        if (!outputError.isEmpty() && why)
            *why = outputError;
        return outputError.isEmpty();
    }
    std::int64_t playedMs() const override { return played; }

    void tick() { emit statusUpdate(); }

    std::vector<PlayerCommand> commands;
    std::int32_t fileLength = 0; // length reported once a file is open
    QString openError;           // non-empty: "Open" fails with this text
    std::int32_t modeValue = NotOpen;
    std::int32_t startPoint = -1;
    bool waitSet = false;
    QByteArray outputDevice;
    QString outputError;      // non-empty: the output cannot play, with this reason
    std::int64_t played = -1; // what playedMs() reports

private:
    PlayerCommand last_ = PlayerCommand::None;
    QString fileName_;
    bool open_ = false;
    int interval_ = 0;
};

// A file dialog that "accepts" the next name in a queue; an empty entry is a cancel.
class FakeFileDialog : public FileDialog {
public:
    void showOpen(const QString& title, const QStringList& filters) override {
        lastTitle = title;
        lastFilters = filters;
        ++shown;
        if (!answers.empty()) {
            QString next = answers.front();
            answers.pop_front();
            if (!next.isEmpty())
                name_ = next;
        }
    }
    QString fileName() const override { return name_; }

    std::deque<QString> answers;
    QString lastTitle;
    QStringList lastFilters;
    int shown = 0;

private:
    QString name_;
};

} // namespace tamberlo::test
