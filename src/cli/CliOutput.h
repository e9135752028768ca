#pragma once

// What tamberlo-cli writes: the one text formatter (lines on standard output, a progress line
// on standard error that fits the terminal and redraws in place, tables aligned by display
// width) and the one JSON formatter (one document per run, snake_case keys, numbers as
// numbers, rows as numbers with a hex text beside them).

#include "chip/ChipReply.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTextStream>

namespace tamberlo::cli {

// The program's standard output and error, one stream each for every part of the tool, so
// that what the parts write keeps its order.
QTextStream& out();
QTextStream& err();

// ---- JSON --------------------------------------------------------------------------------

// The document of a run: `fields` with "command", "ok", "exit_code" and, on failure, "error".
void writeJson(QJsonObject fields, const QString& command, int exitCode, const QString& error = {});
// A row: `key` as a number and `key`_hex as "0x010".
void putRow(QJsonObject& o, const QString& key, int row);
// A byte: `key` as a number and `key`_hex as "0xA0".
void putByte(QJsonObject& o, const QString& key, std::uint8_t byte);
// SR0: its flag names, each flag as a boolean, and the row it carries.
QJsonObject statusJson(const ChipStatus& status);

// ---- text --------------------------------------------------------------------------------

// Columns on a terminal: East Asian wide and full-width characters take two, combining marks
// none.
int displayWidth(const QString& text);
// `text` padded with spaces to `width` columns, on the right (left-aligned) or the left.
QString padded(const QString& text, int width, bool alignRight = false);

// Rows of cells under a header, two spaces between columns, aligned by display width; the
// columns listed in `rightAligned` to the right. Each line starts with `indent`.
QString tableText(const QStringList& header, const QList<QStringList>& rows,
                  const QList<int>& rightAligned = {},
                  const QString& indent = QStringLiteral("  "));

// "1 message", "3 messages": English plurals of the command line's own texts.
QString counted(qsizetype n, const QString& one, const QString& many);

// "prefix[#####-----]suffix" as wide as a line on a terminal of `columns` can be: the bar
// takes what the texts leave, up to `widest` cells and at least 5.
QString progressText(const QString& prefix, double fraction, const QString& suffix, int columns,
                     int widest = 30);

// The progress line on standard error, when it is a terminal: redrawn in place, never wider
// than the terminal (cut with "…" when it would be), cleared before the next line of text.
class ProgressLine {
public:
    // Off with --verbose (the bytes are on standard error then) or when standard error is not
    // a terminal.
    void setEnabled(bool enabled) { enabled_ = enabled; }
    void show(const QString& text);
    void clear();
    // The terminal's width in columns (80 when it does not say).
    static int terminalWidth();
    // The text as drawn on a terminal of `width` columns: one column kept free, so that the
    // cursor never wraps to a new line.
    static QString fitted(const QString& text, int width);

private:
    bool enabled_ = true;
    bool shown_ = false;
};

} // namespace tamberlo::cli
