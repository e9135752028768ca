#pragma once

#include "plan/Allocation.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

namespace tamberlo::plan {

enum class ExportFormat { Header, Csv, Json };

// One message of a layout as JSON: number, name, identifier, file, length_ms, rows, and its
// start and end rows as numbers with start_hex and end_hex beside them. The JSON export and
// the command line's documents use it.
QJsonObject messageJson(const PlacedMessage& m);

// "h", "csv" or "json"; nothing for anything else.
std::optional<ExportFormat> exportFormat(const QString& name);

// A message name as a C identifier: ASCII letters upper-cased, digits and underscores
// kept, every run of spaces and ASCII punctuation one underscore, underscores at either
// end dropped. Nothing when that leaves no identifier: a name with other characters
// (not ASCII), one that starts with a digit or one with no letter or digit at all; the
// header then uses MSG_<number>.
std::optional<QString> cIdentifier(const QString& name);
// The identifier message `number` gets in the header.
QString messageIdentifier(const QString& name, int number);

// The address table in one of the formats. The header compiles without warnings as C89,
// C99 and C++11 (gcc, clang, sdcc, avr-gcc): <ID>_START and <ID>_END per message,
// PROMPT_COUNT, struct prompt_range, the initializer PROMPT_TABLE_INIT and the array
// prompt_table (defined where PROMPT_TABLE_DEFINE is, with C linkage). Names and the plan's
// name appear only in comments, escaped so that no text changes what the header means.
QByteArray exportLayout(const Layout& layout, ExportFormat format, const QString& planName);

} // namespace tamberlo::plan
