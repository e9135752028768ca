#include "plan/Plan.h"

#include "plan/ChipMemory.h"

#include "chip/ChipReply.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <cmath>

namespace tamberlo::plan {

namespace {

const QStringList PlanKeys{QStringLiteral("model"),     QStringLiteral("sample_rate"),
                           QStringLiteral("first_row"), QStringLiteral("margin_ms"),
                           QStringLiteral("output"),    QStringLiteral("messages")};
const QStringList MessageKeys{QStringLiteral("name"), QStringLiteral("file"),
                              QStringLiteral("rows"), QStringLiteral("start")};

// A whole JSON number within [low, high].
std::optional<int> wholeNumber(const QJsonValue& v, int low, int high) {
    if (!v.isDouble())
        return std::nullopt;
    const double d = v.toDouble();
    if (d != std::floor(d) || d < low || d > high)
        return std::nullopt;
    return static_cast<int>(d);
}

// A row given as a number or as hex text.
std::optional<int> rowValue(const QJsonValue& v) {
    if (v.isDouble())
        return wholeNumber(v, 0, 0x7FF);
    if (v.isString())
        return parseRow(v.toString());
    return std::nullopt;
}

QString unknownKey(const QJsonObject& o, const QStringList& known) {
    for (auto it = o.begin(); it != o.end(); ++it) {
        if (!known.contains(it.key()))
            return it.key();
    }
    return {};
}

} // namespace

std::optional<int> parseRow(const QString& text) {
    const auto row = tamberlo::parseRow(text.trimmed());
    if (!row)
        return std::nullopt;
    return *row;
}

QString rowText(int row) {
    return tamberlo::rowText(static_cast<std::uint16_t>(row));
}

std::optional<Plan> parsePlan(const QByteArray& json, const QString& baseDir, QString* error) {
    const auto fail = [error](const QString& why) -> std::optional<Plan> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return fail(QStringLiteral("not JSON: %1 at offset %2")
                        .arg(parseError.errorString())
                        .arg(parseError.offset));
    if (!doc.isObject())
        return fail(QStringLiteral("the plan must be a JSON object"));
    const QJsonObject o = doc.object();
    if (const QString k = unknownKey(o, PlanKeys); !k.isEmpty())
        return fail(QStringLiteral("unknown key \"%1\" (known: %2)").arg(k, PlanKeys.join(", ")));

    Plan plan;
    if (o.contains(QLatin1String("model"))) {
        const QString model = o.value(QLatin1String("model")).toString();
        if (model.compare(QLatin1String("auto"), Qt::CaseInsensitive) == 0)
            plan.model = QStringLiteral("auto");
        else if (const ChipMemory* m = findChipMemory(model))
            plan.model = m->name;
        else
            return fail(QStringLiteral("\"model\": \"%1\" is no known chip (known: auto, %2)")
                            .arg(model, chipModelNames().join(", ")));
    }
    if (o.contains(QLatin1String("sample_rate"))) {
        const auto rate = wholeNumber(o.value(QLatin1String("sample_rate")), 1, 1000000);
        if (!rate || !rowDuration(*rate))
            return fail(QStringLiteral("\"sample_rate\" must be one of %1")
                            .arg(sampleRateNames().join(", ")));
        plan.sampleRate = *rate;
    }
    if (o.contains(QLatin1String("first_row"))) {
        const auto row = rowValue(o.value(QLatin1String("first_row")));
        if (!row || *row < Plan::FirstMessageRow)
            return fail(QStringLiteral("\"first_row\" must be a row from 0x010 (the first message "
                                       "row), as a number or as hex text like \"0x010\""));
        plan.firstRow = *row;
    }
    if (o.contains(QLatin1String("margin_ms"))) {
        const auto margin = wholeNumber(o.value(QLatin1String("margin_ms")), 0, 10000);
        if (!margin)
            return fail(QStringLiteral("\"margin_ms\" must be a whole number from 0 to 10000"));
        plan.marginMs = *margin;
    }
    if (o.contains(QLatin1String("output"))) {
        const QJsonValue output = o.value(QLatin1String("output"));
        if (!output.isString())
            return fail(QStringLiteral("\"output\" must be the name of a sound output, as text"));
        plan.output = output.toString();
    }
    const QJsonValue list = o.value(QLatin1String("messages"));
    if (!list.isArray() || list.toArray().isEmpty())
        return fail(QStringLiteral("\"messages\" must be a list of at least one message"));

    const QDir base(baseDir);
    int number = 0;
    for (const QJsonValue& item : list.toArray()) {
        ++number;
        const auto failHere = [&](const QString& why) {
            return fail(QStringLiteral("message %1: %2").arg(number).arg(why));
        };
        if (!item.isObject())
            return failHere(QStringLiteral("must be an object with \"name\" and \"file\""));
        const QJsonObject m = item.toObject();
        if (const QString k = unknownKey(m, MessageKeys); !k.isEmpty())
            return failHere(
                QStringLiteral("unknown key \"%1\" (known: %2)").arg(k, MessageKeys.join(", ")));
        PlanMessage message;
        message.name = m.value(QLatin1String("name")).toString().trimmed();
        message.file = m.value(QLatin1String("file")).toString();
        if (message.name.isEmpty())
            return failHere(QStringLiteral("\"name\" must be a non-empty text"));
        if (message.file.isEmpty())
            return failHere(QStringLiteral("\"file\" must be a non-empty path"));
        message.path = QDir::cleanPath(base.absoluteFilePath(message.file));
        if (m.contains(QLatin1String("rows"))) {
            message.rows = wholeNumber(m.value(QLatin1String("rows")), 1, 0x800);
            if (!message.rows)
                return failHere(QStringLiteral("\"rows\" must be a whole number of rows from 1"));
        }
        if (m.contains(QLatin1String("start"))) {
            message.start = rowValue(m.value(QLatin1String("start")));
            if (!message.start || *message.start < Plan::FirstMessageRow)
                return failHere(QStringLiteral("\"start\" must be a row from 0x010, as a number "
                                               "or as hex text like \"0x100\""));
        }
        plan.messages.append(message);
    }
    return plan;
}

std::optional<Plan> readPlan(const QString& path, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("%1: cannot read: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    QString why;
    auto plan = parsePlan(file.readAll(), QFileInfo(path).absolutePath(), &why);
    if (!plan) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, why);
        return std::nullopt;
    }
    plan->source = path;
    return plan;
}

Plan planFromFiles(const QStringList& files) {
    Plan plan;
    for (const QString& f : files) {
        PlanMessage m;
        const QFileInfo info(f);
        m.name = info.completeBaseName().isEmpty() ? info.fileName() : info.completeBaseName();
        m.file = f;
        m.path = QDir::cleanPath(info.absoluteFilePath());
        plan.messages.append(m);
    }
    return plan;
}

QByteArray planToJson(const Plan& plan) {
    QJsonObject o;
    o.insert(QStringLiteral("model"), plan.model);
    o.insert(QStringLiteral("sample_rate"), plan.sampleRate);
    o.insert(QStringLiteral("first_row"), rowText(plan.firstRow));
    o.insert(QStringLiteral("margin_ms"), plan.marginMs);
    if (!plan.output.isEmpty())
        o.insert(QStringLiteral("output"), plan.output);
    QJsonArray list;
    for (const PlanMessage& m : plan.messages) {
        QJsonObject j;
        j.insert(QStringLiteral("name"), m.name);
        j.insert(QStringLiteral("file"), m.file);
        if (m.rows)
            j.insert(QStringLiteral("rows"), *m.rows);
        if (m.start)
            j.insert(QStringLiteral("start"), rowText(*m.start));
        list.append(j);
    }
    o.insert(QStringLiteral("messages"), list);
    return QJsonDocument(o).toJson(QJsonDocument::Indented);
}

} // namespace tamberlo::plan
