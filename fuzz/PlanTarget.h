#pragma once

// The body of the plan file fuzz target, shared with the property test in tests/reliability.
//
// An input is the text of a plan file. Whatever it holds, parsePlan() either refuses it with
// a one-line error free of control characters (it ends up on a terminal), or returns a plan
// that
//  - keeps every value within what the reader promises: a known model or "auto", a sample
//    rate with a row duration, rows and starts within the chip's address range, names
//    trimmed and not empty, absolute clean paths;
//  - was written without a key twice in one object: counted independently, the keys in the
//    text (each ':' outside a string belongs to one) are as many as the parsed tree holds;
//  - reads back the same from planToJson().
//
// checkPlanInput() returns an empty string when everything holds, otherwise what failed.

#include "plan/ChipModels.h"
#include "plan/Plan.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdint>
#include <string>

namespace tamberlo::fuzz {

inline const QString& planFolder() {
    static const QString folder = QStringLiteral("/plans/fuzz");
    return folder;
}

// Keys in the text of a valid JSON document: the ':' outside strings.
inline int keysInText(const QByteArray& json) {
    int keys = 0;
    bool inString = false;
    for (qsizetype i = 0; i < json.size(); ++i) {
        const char c = json[i];
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == ':') {
            ++keys;
        }
    }
    return keys;
}

// Keys in a parsed tree.
inline int keysInTree(const QJsonValue& value) {
    int keys = 0;
    if (value.isObject()) {
        const QJsonObject o = value.toObject();
        keys += static_cast<int>(o.size());
        for (auto it = o.begin(); it != o.end(); ++it)
            keys += keysInTree(it.value());
    } else if (value.isArray()) {
        for (const QJsonValue& item : value.toArray())
            keys += keysInTree(item);
    }
    return keys;
}

inline std::string samePlans(const plan::Plan& a, const plan::Plan& b) {
    if (a.model != b.model || a.sampleRate != b.sampleRate || a.firstRow != b.firstRow ||
        a.marginMs != b.marginMs)
        return "the settings differ";
    if (a.messages.size() != b.messages.size())
        return "the number of messages differs";
    for (qsizetype i = 0; i < a.messages.size(); ++i) {
        const plan::PlanMessage& x = a.messages[i];
        const plan::PlanMessage& y = b.messages[i];
        if (x.name != y.name || x.file != y.file || x.path != y.path || x.rows != y.rows ||
            x.start != y.start)
            return "message " + std::to_string(i + 1) + " differs";
    }
    return {};
}

inline std::string checkPlanValues(const plan::Plan& p) {
    using plan::Plan;
    if (!p.autoModel()) {
        const ChipModel* chip = plan::findChipModel(p.model);
        if (!chip || chip->nameText() != p.model)
            return "model " + p.model.toStdString() + " is not a chip's name";
    } else if (p.model != QLatin1String("auto")) {
        return "the automatic model is not written \"auto\"";
    }
    if (!plan::rowDuration(p.sampleRate))
        return "sample rate " + std::to_string(p.sampleRate) + " has no row duration";
    if (p.firstRow < Plan::FirstMessageRow || p.firstRow > 0x7FF)
        return "first row " + std::to_string(p.firstRow);
    if (p.marginMs < 0 || p.marginMs > 10000)
        return "margin " + std::to_string(p.marginMs);
    if (p.messages.isEmpty())
        return "no messages";
    for (const plan::PlanMessage& m : p.messages) {
        if (m.name.isEmpty() || m.name != m.name.trimmed() || m.name.startsWith(QChar(0xFEFF)) ||
            m.name.endsWith(QChar(0xFEFF)))
            return "name \"" + m.name.toStdString() + "\" empty or not trimmed";
        if (m.file.isEmpty())
            return "empty file";
        if (!QDir::isAbsolutePath(m.path) || QDir::cleanPath(m.path) != m.path)
            return "path " + m.path.toStdString() + " not absolute and clean";
        if (m.rows && (*m.rows < 1 || *m.rows > 0x800))
            return "rows " + std::to_string(*m.rows);
        if (m.start && (*m.start < Plan::FirstMessageRow || *m.start > 0x7FF))
            return "start " + std::to_string(*m.start);
    }
    return {};
}

inline std::string checkPlanInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray json(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QString error;
    const std::optional<plan::Plan> p = plan::parsePlan(json, planFolder(), &error);
    if (!p) {
        if (error.isEmpty())
            return "refused without a reason";
        for (const QChar c : error) {
            if (c.category() == QChar::Other_Control || c == QChar::LineSeparator ||
                c == QChar::ParagraphSeparator)
                return "the error has control characters: " + error.toStdString();
        }
        return {};
    }
    if (std::string failure = checkPlanValues(*p); !failure.empty())
        return failure;
    const QJsonDocument document = QJsonDocument::fromJson(json);
    if (keysInText(json) != keysInTree(document.object()))
        return "accepted with a key written twice";
    QString again;
    const std::optional<plan::Plan> back =
        plan::parsePlan(plan::planToJson(*p), planFolder(), &again);
    if (!back)
        return "planToJson of an accepted plan is refused: " + again.toStdString();
    if (std::string failure = samePlans(*p, *back); !failure.empty())
        return "planToJson does not read back: " + failure;
    return {};
}

} // namespace tamberlo::fuzz
