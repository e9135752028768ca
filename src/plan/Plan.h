#pragma once

#include "chip/DeviceType.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace tamberlo::plan {

// One prompt of a plan: a name, an audio file and, optionally, where it goes.
struct PlanMessage {
    QString name;
    QString file;             // as written in the plan (relative to the plan's folder)
    QString path;             // the file resolved to an absolute path
    std::optional<int> rows;  // a fixed number of rows
    std::optional<int> start; // a fixed start row
};

// A set of prompts to record into one chip at planned addresses.
struct Plan {
    static constexpr int DefaultSampleRate = 8000;
    static constexpr int FirstMessageRow = tamberlo::FirstMessageRow;
    // Added to every message's audio length before it is rounded up to whole rows (see
    // Allocation.h for why this much).
    static constexpr int DefaultMarginMs = 700;

    QString model = QStringLiteral("auto"); // a model name ("ISD1760") or "auto": ask DEVID
    int sampleRate = DefaultSampleRate;
    int firstRow = FirstMessageRow;
    int marginMs = DefaultMarginMs;
    // The sound output the files play on while the chip records: an output's id as the sound
    // server names it; empty for the default output.
    QString output;
    QList<PlanMessage> messages;
    QString source; // the plan file, or empty for a plan made from files on the command line

    bool autoModel() const {
        return model.compare(QLatin1String("auto"), Qt::CaseInsensitive) == 0;
    }
};

// Reads a plan file (JSON). On failure returns nothing and `error` says what is wrong and
// where ("plan.json: message 3: \"rows\" must be a whole number of rows from 1").
std::optional<Plan> readPlan(const QString& path, QString* error);
// The same from JSON text; relative file names are resolved against `baseDir`.
std::optional<Plan> parsePlan(const QByteArray& json, const QString& baseDir, QString* error);
// A plan of the files given on the command line: one message per file, named by the file's
// base name, model "auto", everything else by default.
Plan planFromFiles(const QStringList& files);
// The plan as a plan file (what readPlan reads back).
QByteArray planToJson(const Plan& plan);

// "0x010", "010", "0x1A0", "1A0", "01 A0" or a JSON number; nothing for anything else.
std::optional<int> parseRow(const QString& text);
// A row as "0x010".
QString rowText(int row);

} // namespace tamberlo::plan
