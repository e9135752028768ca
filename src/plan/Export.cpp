#include "plan/Export.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace tamberlo::plan {

namespace {

// Text inside a C block comment, written as a C string literal writes it: a backslash, a
// quote and control characters (line breaks among them) as escapes, and the pairs that mean
// something to a C compiler even in a comment broken up: "*/" would end the comment, "/*"
// warns (-Wcomment), "??/" is a trigraph for a backslash (and with a line break after it
// would join the next line to the comment).
QString commentText(const QString& text) {
    QString t;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == u'\\')
            t += QLatin1String("\\\\");
        else if (u == u'"')
            t += QLatin1String("\\\"");
        else if (u == u'\n')
            t += QLatin1String("\\n");
        else if (u == u'\r')
            t += QLatin1String("\\r");
        else if (u == u'\t')
            t += QLatin1String("\\t");
        else if (u < 0x20 || u == 0x7F || u == 0x2028 || u == 0x2029)
            t += QStringLiteral("\\x%1").arg(int(u), 2, 16, QLatin1Char('0'));
        else if ((u == u'/' && t.endsWith(QLatin1Char('*'))) ||
                 (u == u'*' && t.endsWith(QLatin1Char('/'))) ||
                 (u == u'?' && t.endsWith(QLatin1Char('?'))))
            t += QLatin1Char('\\') + c;
        else
            t += c;
    }
    return t;
}

QString csvField(const QString& text) {
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) &&
        !text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')))
        return text;
    QString t = text;
    t.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + t + QLatin1Char('"');
}

QByteArray header(const Layout& layout, const QString& planName) {
    QString out;
    out += QStringLiteral("/* Address table of the prompts in %1, made by tamberlo-cli export.\n")
               .arg(commentText(planName));
    out += QStringLiteral(" * Chip: %1, %2 Hz; rows are the chip's SET_PLAY start and end "
                          "addresses. */\n")
               .arg(layout.chip ? layout.chip->nameText() : QStringLiteral("any model"))
               .arg(layout.sampleRate);
    out += QStringLiteral("#ifndef PROMPT_TABLE_H\n#define PROMPT_TABLE_H\n\n");
    for (const PlacedMessage& m : layout.messages) {
        const bool renamed = cIdentifier(m.name) != m.identifier;
        out += QStringLiteral("/* %1: \"%2\"%3, %4 ms, %5 rows */\n")
                   .arg(m.number)
                   .arg(commentText(m.name), renamed ? QStringLiteral(" (no C name)") : QString())
                   .arg(m.lengthMs)
                   .arg(m.rows);
        out += QStringLiteral("#define %1_START %2\n").arg(m.identifier, rowText(m.start));
        out += QStringLiteral("#define %1_END %2\n").arg(m.identifier, rowText(m.end));
    }
    out += QStringLiteral("\n#define PROMPT_COUNT %1\n\n").arg(layout.messages.size());
    out += QStringLiteral("struct prompt_range {\n    unsigned short start;\n"
                          "    unsigned short end;\n};\n\n");
    out += QStringLiteral("/* {start, end} of each prompt, in plan order:\n"
                          " *   static const struct prompt_range table[PROMPT_COUNT] = "
                          "PROMPT_TABLE_INIT;\n"
                          " * or define PROMPT_TABLE_DEFINE in one source file before including "
                          "this header\n * to get the array prompt_table. */\n");
    out += QStringLiteral("#define PROMPT_TABLE_INIT \\\n    { \\\n");
    for (const PlacedMessage& m : layout.messages)
        out += QStringLiteral("        {%1_START, %1_END}, \\\n").arg(m.identifier);
    out += QStringLiteral("    }\n\n");
    // Declared extern before it is defined: in C++ a const object at namespace scope would
    // otherwise be local to its file, and the other files' references would not link. C
    // linkage, so that C and C++ files of one firmware share it.
    out += QStringLiteral("#ifdef __cplusplus\nextern \"C\" {\n#endif\n\n"
                          "extern const struct prompt_range prompt_table[PROMPT_COUNT];\n"
                          "#ifdef PROMPT_TABLE_DEFINE\n"
                          "const struct prompt_range prompt_table[PROMPT_COUNT] = "
                          "PROMPT_TABLE_INIT;\n"
                          "#endif\n\n"
                          "#ifdef __cplusplus\n}\n#endif\n\n#endif /* PROMPT_TABLE_H */\n");
    return out.toUtf8();
}

QByteArray csv(const Layout& layout) {
    QString out = QStringLiteral("number,name,identifier,file,length_ms,rows,start,end\r\n");
    for (const PlacedMessage& m : layout.messages) {
        out += QStringLiteral("%1,%2,%3,%4,%5,%6,%7,%8\r\n")
                   .arg(m.number)
                   .arg(csvField(m.name), m.identifier, csvField(m.file))
                   .arg(m.lengthMs)
                   .arg(m.rows)
                   .arg(rowText(m.start), rowText(m.end));
    }
    return out.toUtf8();
}

QByteArray json(const Layout& layout, const QString& planName) {
    QJsonObject o;
    o.insert(QStringLiteral("plan"), planName);
    o.insert(QStringLiteral("model"),
             layout.chip ? layout.chip->nameText() : QStringLiteral("auto"));
    o.insert(QStringLiteral("row_ms"), layout.row.ms());
    o.insert(QStringLiteral("rows_used"), layout.rowsUsed);
    if (layout.chip)
        o.insert(QStringLiteral("rows_available"), layout.rowsAvailable());
    QJsonArray list;
    for (const PlacedMessage& m : layout.messages) {
        list.append(messageJson(m));
    }
    o.insert(QStringLiteral("messages"), list);
    return QJsonDocument(o).toJson(QJsonDocument::Indented);
}

} // namespace

QJsonObject messageJson(const PlacedMessage& m) {
    return QJsonObject{{QStringLiteral("number"), m.number},
                       {QStringLiteral("name"), m.name},
                       {QStringLiteral("identifier"), m.identifier},
                       {QStringLiteral("file"), m.file},
                       {QStringLiteral("length_ms"), m.lengthMs},
                       {QStringLiteral("rows"), m.rows},
                       {QStringLiteral("start"), m.start},
                       {QStringLiteral("end"), m.end},
                       {QStringLiteral("start_hex"), rowText(m.start)},
                       {QStringLiteral("end_hex"), rowText(m.end)}};
}

std::optional<ExportFormat> exportFormat(const QString& name) {
    const QString n = name.toLower();
    if (n == QLatin1String("h") || n == QLatin1String("header") || n == QLatin1String("c"))
        return ExportFormat::Header;
    if (n == QLatin1String("csv"))
        return ExportFormat::Csv;
    if (n == QLatin1String("json"))
        return ExportFormat::Json;
    return std::nullopt;
}

std::optional<QString> cIdentifier(const QString& name) {
    QString id;
    bool pendingUnderscore = false;
    for (const QChar c : name) {
        if (c.unicode() > 0x7F)
            return std::nullopt;
        const char a = static_cast<char>(c.unicode());
        if ((a >= 'A' && a <= 'Z') || (a >= 'a' && a <= 'z') || (a >= '0' && a <= '9')) {
            if (pendingUnderscore && !id.isEmpty())
                id += QLatin1Char('_');
            pendingUnderscore = false;
            id += QChar::fromLatin1(a).toUpper();
        } else {
            pendingUnderscore = true; // spaces, punctuation, control characters
        }
    }
    if (id.isEmpty() || id.front().isDigit())
        return std::nullopt;
    return id;
}

QString messageIdentifier(const QString& name, int number) {
    return cIdentifier(name).value_or(QStringLiteral("MSG_%1").arg(number));
}

QByteArray exportLayout(const Layout& layout, ExportFormat format, const QString& planName) {
    switch (format) {
    case ExportFormat::Header:
        return header(layout, planName);
    case ExportFormat::Csv:
        return csv(layout);
    case ExportFormat::Json:
        return json(layout, planName);
    }
    return {};
}

} // namespace tamberlo::plan
