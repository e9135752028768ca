#pragma once

#include "plan/ProgrammerParts.h"
#include "support/Fakes.h"

#include <QFileInfo>
#include <QHash>
#include <QStringList>
#include <optional>

namespace tamberlo::test {

// The recording audio played by the test: loads anything but a "bad" file, plays when the
// test moves its position, and has an output unless `ready` is false.
class ScriptedAudio : public plan::RecordingAudio {
public:
    bool load(const QString& path, QString* why) override {
        loaded << path;
        position = 0;
        playing = false;
        if (path.contains("bad")) {
            *why = "cannot be played: broken";
            return false;
        }
        return true;
    }
    void start() override { playing = true; }
    void stop() override { playing = false; }
    bool outputReady(QString* why) override {
        if (!ready)
            *why = "no sound server";
        return ready;
    }
    QString outputName() const override { return "scripted output"; }
    std::int64_t playedMs() const override { return position; }
    std::int64_t lengthMs() const override { return length; }
    // The last sample out: by default when the position has reached the length.
    bool finished() const override { return ended.value_or(position >= length); }
    QString failure() const override { return failing; }
    std::int64_t lastSampleOutUs() const override { return lastOutUs; }
    QStringList loaded;
    std::int64_t position = 0;
    std::int64_t length = 1000;
    std::optional<bool> ended;
    std::int64_t lastOutUs = 0;
    QString failing;
    bool ready = true;
    bool playing = false;
};

// The fake player with a length per file name, for measuring plans of several files.
class LengthsPlayer : public FakeAudioPlayer {
public:
    std::int32_t length() const override {
        if (mode() == NotOpen)
            return 0;
        return lengths.value(QFileInfo(fileName()).fileName(), fileLength);
    }
    QHash<QString, std::int32_t> lengths;
};

} // namespace tamberlo::test
