#include "plan/Plan.h"

#include "plan/ChipModels.h"

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
        return wholeNumber(v, 0, LastRowOfAny);
    if (v.isString())
        return parseRow(v.toString());
    return std::nullopt;
}

// U+FEFF, the byte order mark: invisible, and a JSON reader drops it at the start of a text
// (Qt's does), so a name or file that starts with it would not read back as written.
constexpr QChar ZeroWidthNoBreakSpace(0xFEFF);

// A message's name without white space or byte order marks at either end.
QString trimmedName(const QString& name) {
    QString t = name.trimmed();
    while (t.startsWith(ZeroWidthNoBreakSpace) || t.endsWith(ZeroWidthNoBreakSpace)) {
        t = t.startsWith(ZeroWidthNoBreakSpace) ? t.mid(1) : t.chopped(1);
        t = t.trimmed();
    }
    return t;
}

// Text from the plan file as an error message quotes it: control characters (a line break,
// a terminal's escape) written as \uXXXX, so that the message stays one plain line.
QString shown(const QString& text) {
    QString out;
    for (const QChar c : text) {
        if (c.category() == QChar::Other_Control || c == QChar::LineSeparator ||
            c == QChar::ParagraphSeparator)
            out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

// The first key that appears twice in one object of `json`, which must be valid JSON (JSON
// readers keep one of the two values without a word); its object's place is in `where`:
// -1 for the plan itself, N for message N, -2 for any other object. Nothing when there is
// none (the empty key "" is a key like any other).
std::optional<QString> duplicateKey(const QByteArray& json, int* where) {
    struct Level {
        bool object = false;
        QSet<QString> keys;
        int items = 0;         // arrays: values begun so far
        bool messages = false; // the plan's "messages" list
    };
    const auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    QList<Level> levels;
    QString lastKey; // the key of the value that comes next, in the innermost object
    qsizetype i = 0;
    const qsizetype n = json.size();
    const auto readString = [&]() {
        // At the opening quote; leaves i after the closing one. Escapes are decoded so that
        // "name" and "n\u0061me" are the same key.
        QString text;
        QByteArray run;
        const auto flush = [&] {
            text += QString::fromUtf8(run);
            run.clear();
        };
        for (++i; i < n && json[i] != '"'; ++i) {
            if (json[i] != '\\') {
                run += json[i];
                continue;
            }
            flush();
            if (++i >= n)
                break;
            switch (json[i]) {
            case 'b':
                text += QLatin1Char('\b');
                break;
            case 'f':
                text += QLatin1Char('\f');
                break;
            case 'n':
                text += QLatin1Char('\n');
                break;
            case 'r':
                text += QLatin1Char('\r');
                break;
            case 't':
                text += QLatin1Char('\t');
                break;
            case 'u':
                if (i + 4 < n) {
                    text += QChar(json.mid(i + 1, 4).toUShort(nullptr, 16));
                    i += 4;
                }
                break;
            default: // '"', '\\', '/'
                text += QLatin1Char(json[i]);
            }
        }
        flush();
        ++i;
        return text;
    };
    // A value begins in the innermost level: count it where it is a list's item.
    const auto valueBegins = [&]() {
        if (!levels.isEmpty() && !levels.last().object)
            ++levels.last().items;
    };
    while (i < n) {
        const char c = json[i];
        if (c == '{' || c == '[') {
            valueBegins();
            Level level;
            level.object = c == '{';
            level.messages = c == '[' && levels.size() == 1 && lastKey == QLatin1String("messages");
            levels.append(level);
            ++i;
        } else if (c == '}' || c == ']') {
            if (!levels.isEmpty())
                levels.removeLast();
            ++i;
        } else if (c == '"') {
            const bool isKey = !levels.isEmpty() && levels.last().object && [&] {
                qsizetype j = i + 1;
                while (j < n && json[j] != '"')
                    j += json[j] == '\\' ? 2 : 1;
                for (++j; j < n && isSpace(json[j]);)
                    ++j;
                return j < n && json[j] == ':';
            }();
            if (!isKey)
                valueBegins();
            const QString text = readString();
            if (isKey) {
                Level& level = levels.last();
                if (level.keys.contains(text)) {
                    if (levels.size() == 1)
                        *where = -1;
                    else if (levels.size() == 3 && levels[1].messages)
                        *where = levels[1].items;
                    else
                        *where = -2;
                    return text;
                }
                level.keys.insert(text);
                lastKey = text;
            }
        } else if (c == ',' || c == ':' || isSpace(c)) {
            ++i;
        } else { // a number, true, false or null
            valueBegins();
            while (i < n && !isSpace(json[i]) && !QByteArrayView(",:]}").contains(json[i]))
                ++i;
        }
    }
    return std::nullopt;
}

// The first key of `o` that is not among `known`; nothing when there is none (the empty
// key "" is unknown like any other).
std::optional<QString> unknownKey(const QJsonObject& o, const QStringList& known) {
    for (auto it = o.begin(); it != o.end(); ++it) {
        if (!known.contains(it.key()))
            return it.key();
    }
    return std::nullopt;
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
    int where = 0;
    if (const std::optional<QString> k = duplicateKey(json, &where)) {
        const QString what = QStringLiteral("duplicate key \"%1\"").arg(shown(*k));
        if (where == -1)
            return fail(what);
        if (where > 0)
            return fail(QStringLiteral("message %1: %2").arg(where).arg(what));
        return fail(what + QStringLiteral(" in a value"));
    }
    const QJsonObject o = doc.object();
    if (const std::optional<QString> k = unknownKey(o, PlanKeys))
        return fail(
            QStringLiteral("unknown key \"%1\" (known: %2)").arg(shown(*k), PlanKeys.join(", ")));

    Plan plan;
    if (o.contains(QLatin1String("model"))) {
        const QString model = o.value(QLatin1String("model")).toString();
        if (model.compare(QLatin1String("auto"), Qt::CaseInsensitive) == 0)
            plan.model = QStringLiteral("auto");
        else if (const ChipModel* m = findChipModel(model))
            plan.model = m->nameText();
        else
            return fail(QStringLiteral("\"model\": \"%1\" is no known chip (known: auto, %2)")
                            .arg(shown(model), chipModelNames().join(", ")));
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
        if (const std::optional<QString> k = unknownKey(m, MessageKeys))
            return failHere(QStringLiteral("unknown key \"%1\" (known: %2)")
                                .arg(shown(*k), MessageKeys.join(", ")));
        PlanMessage message;
        message.name = trimmedName(m.value(QLatin1String("name")).toString());
        message.file = m.value(QLatin1String("file")).toString();
        if (message.name.isEmpty())
            return failHere(QStringLiteral("\"name\" must be a non-empty text"));
        if (message.file.isEmpty())
            return failHere(QStringLiteral("\"file\" must be a non-empty path"));
        if (message.file.startsWith(ZeroWidthNoBreakSpace))
            return failHere(QStringLiteral("\"file\" starts with an invisible character "
                                           "(U+FEFF, a byte order mark)"));
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
