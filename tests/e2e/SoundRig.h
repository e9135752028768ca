#pragma once

// What the sound end-to-end test and bench_sound share: prompts with sharp edges made at run
// time with sox, lame and espeak-ng, and each message's SET_REC and STOP times read from the
// simulator's byte log (the monotonic clock, as SinkCapture's).

#include "e2e/SimulatorRig.h"
#include "support/SinkCapture.h"

#include <QFile>
#include <QList>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <cstdlib>
#include <optional>

namespace tamberlo::e2e {

// A prompt to make: a tone or noise of `ms` at `rate` with sharp edges, or speech.
struct PromptRecipe {
    enum class Kind { Tone, Square, Noise, Speech };
    Kind kind = Kind::Tone;
    int rate = 8000;
    int channels = 1;
    int ms = 500;     // tones and noise; speech is as long as espeak-ng makes it
    bool mp3 = false; // encoded with lame from the WAV
    int frequency = 1000;
    QString text; // speech
};

inline const char* kindName(PromptRecipe::Kind kind) {
    switch (kind) {
    case PromptRecipe::Kind::Tone:
        return "tone";
    case PromptRecipe::Kind::Square:
        return "square";
    case PromptRecipe::Kind::Noise:
        return "noise";
    case PromptRecipe::Kind::Speech:
        return "speech";
    }
    return "?";
}

// Runs a tool; its error text, or an empty string when it exited 0.
inline QString runTool(const QString& tool, const QStringList& arguments) {
    QProcess p;
    p.start(tool, arguments);
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        return tool + QStringLiteral(" did not finish");
    }
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return tool + QStringLiteral(": ") + QString::fromLocal8Bit(p.readAllStandardError());
    return {};
}

// Makes the prompt as `base`.wav (and `base`.mp3); returns the file to program, or sets
// `why`. Tones and noise start and end at full level (no fade), half of full scale.
inline QString makePrompt(const PromptRecipe& recipe, const QString& base, QString* why) {
    const QString wav = base + QStringLiteral(".wav");
    QString error;
    if (recipe.kind == PromptRecipe::Kind::Speech) {
        const QString raw = base + QStringLiteral("-speech.wav");
        error = runTool(QStringLiteral("espeak-ng"), {QStringLiteral("-w"), raw, recipe.text});
        if (error.isEmpty()) {
            // Trim espeak-ng's leading and trailing silence, then the rate and channels asked.
            error =
                runTool(QStringLiteral("sox"),
                        {raw, QStringLiteral("-r"), QString::number(recipe.rate),
                         QStringLiteral("-c"), QString::number(recipe.channels),
                         QStringLiteral("-b"), QStringLiteral("16"), wav, QStringLiteral("silence"),
                         QStringLiteral("1"), QStringLiteral("0.001"), QStringLiteral("1%"),
                         QStringLiteral("reverse"), QStringLiteral("silence"), QStringLiteral("1"),
                         QStringLiteral("0.001"), QStringLiteral("1%"), QStringLiteral("reverse")});
        }
    } else {
        const QString seconds = QString::number(recipe.ms / 1000.0, 'f', 3);
        QStringList synth{QStringLiteral("-n"),
                          QStringLiteral("-r"),
                          QString::number(recipe.rate),
                          QStringLiteral("-c"),
                          QString::number(recipe.channels),
                          QStringLiteral("-b"),
                          QStringLiteral("16"),
                          wav,
                          QStringLiteral("synth"),
                          seconds};
        switch (recipe.kind) {
        case PromptRecipe::Kind::Tone:
            // Starting at the crest: full level from the first sample.
            synth << QStringLiteral("sine") << QString::number(recipe.frequency)
                  << QStringLiteral("0") << QStringLiteral("25");
            break;
        case PromptRecipe::Kind::Square:
            synth << QStringLiteral("square") << QString::number(recipe.frequency);
            break;
        default:
            synth << QStringLiteral("whitenoise");
            break;
        }
        synth << QStringLiteral("vol") << QStringLiteral("0.5");
        error = runTool(QStringLiteral("sox"), synth);
    }
    if (!error.isEmpty()) {
        *why = error;
        return {};
    }
    if (!recipe.mp3)
        return wav;
    const QString mp3 = base + QStringLiteral(".mp3");
    error = runTool(QStringLiteral("lame"), {QStringLiteral("--quiet"), wav, mp3});
    if (!error.isEmpty()) {
        *why = error;
        return {};
    }
    return mp3;
}

// The prompt made as `base` by makePrompt (`file` is what it returned) as the tool plays it:
// the WAV itself, or for an MP3 the file decoded by GStreamer's gst-launch-1.0 (not by this
// project's decoder, test::decodeToWav) to `base`-played.wav. An MP3 does not hold the WAV it was
// encoded from: the encoder's lowpass and quantisation take soft stretches of speech under the
// threshold, so the content the chip can get is that of the decoded file. Empty on failure, `why`
// set.
inline QString playedWav(const QString& file, const QString& base, QString* why) {
    if (!file.endsWith(QStringLiteral(".mp3")))
        return file;
    const QString out = base + QStringLiteral("-played.wav");
    return test::decodeToWav(file, out, why) ? out : QString();
}

// One message as the chip saw it: the SET_REC frame's first and last byte, the first STOP
// after it (0 when none came).
struct RecordedMessage {
    QString range; // "0x010..0x018"
    qint64 setRecFirstUs = 0;
    qint64 setRecEndUs = 0;
    qint64 stopUs = 0;
};

inline QList<RecordedMessage> recordedMessages(const Simulator& sim) {
    QList<RecordedMessage> out;
    qint64 first = 0;
    for (const LoggedByte& b : sim.received()) {
        if (b.note.startsWith(QStringLiteral("SET_REC 1/5"))) {
            first = b.us;
        } else if (b.note.startsWith(QStringLiteral("SET_REC 5/5"))) {
            RecordedMessage m;
            m.range = b.note.section(QLatin1Char(' '), -1);
            m.setRecFirstUs = first;
            m.setRecEndUs = b.us;
            out.append(m);
        } else if ((b.note == QStringLiteral("STOP") ||
                    b.note.startsWith(QStringLiteral("STOP ("))) &&
                   !out.isEmpty() && out.back().stopUs == 0) {
            out.back().stopUs = b.us;
        }
    }
    return out;
}

// Whether any byte of a SET_REC frame reached the simulator.
inline bool anySetRec(const Simulator& sim) {
    for (const LoggedByte& b : sim.received())
        if (b.note.startsWith(QStringLiteral("SET_REC")))
            return true;
    return false;
}

} // namespace tamberlo::e2e
