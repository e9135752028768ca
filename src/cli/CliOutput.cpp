#include "cli/CliOutput.h"

#include "codec/HexText.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <algorithm>
#include <clocale>
#include <cmath>
#include <cwchar>
#include <sys/ioctl.h>
#include <unistd.h>

namespace tamberlo::cli {

QTextStream& out() {
    static QTextStream stream(stdout);
    return stream;
}

QTextStream& err() {
    static QTextStream stream(stderr);
    return stream;
}

void writeJson(QJsonObject fields, const QString& command, int exitCode, const QString& error) {
    fields.insert(QStringLiteral("command"), command);
    fields.insert(QStringLiteral("ok"), exitCode == 0);
    fields.insert(QStringLiteral("exit_code"), exitCode);
    if (!error.isEmpty())
        fields.insert(QStringLiteral("error"), error);
    out() << QJsonDocument(fields).toJson(QJsonDocument::Indented);
    out().flush();
}

void putRow(QJsonObject& o, const QString& key, int row) {
    o.insert(key, row);
    o.insert(key + QStringLiteral("_hex"), rowText(static_cast<std::uint16_t>(row)));
}

void putByte(QJsonObject& o, const QString& key, std::uint8_t byte) {
    o.insert(key, int(byte));
    o.insert(key + QStringLiteral("_hex"), hexByte(byte));
}

QJsonObject statusJson(const ChipStatus& status) {
    QJsonObject o;
    o.insert(QStringLiteral("flags"), QJsonArray::fromStringList(status.flagNames()));
    o.insert(QStringLiteral("cmd_err"), status.refused());
    o.insert(QStringLiteral("full"), status.full());
    o.insert(QStringLiteral("powered_up"), status.poweredUp());
    o.insert(QStringLiteral("eom"), status.endOfMessage());
    o.insert(QStringLiteral("int"), status.interrupt());
    if (const auto row = status.row())
        putRow(o, QStringLiteral("row"), *row);
    return o;
}

int displayWidth(const QString& text) {
    // glibc's wcwidth() knows East Asian widths under a UTF-8 locale; the program's own
    // locale stays as it is.
    static locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t(nullptr));
    int width = 0;
    for (const uint code : text.toUcs4()) {
        int w = -1;
        if (utf8) {
            const locale_t old = uselocale(utf8);
            w = ::wcwidth(static_cast<wchar_t>(code));
            uselocale(old);
        }
        width += w < 0 ? 1 : w;
    }
    return width;
}

QString padded(const QString& text, int width, bool alignRight) {
    const QString fill(std::max(0, width - displayWidth(text)), QLatin1Char(' '));
    return alignRight ? fill + text : text + fill;
}

QString tableText(const QStringList& header, const QList<QStringList>& rows,
                  const QList<int>& rightAligned, const QString& indent) {
    QList<int> widths(header.size(), 0);
    for (qsizetype c = 0; c < header.size(); ++c) {
        widths[c] = displayWidth(header[c]);
        for (const QStringList& r : rows)
            widths[c] = std::max(widths[c], displayWidth(r.value(c)));
    }
    const auto line = [&](const QStringList& cells) {
        QStringList parts;
        for (qsizetype c = 0; c < header.size(); ++c)
            parts << padded(cells.value(c), widths[c], rightAligned.contains(int(c)));
        QString text = indent + parts.join(QStringLiteral("  "));
        while (text.endsWith(QLatin1Char(' ')))
            text.chop(1);
        return text + QLatin1Char('\n');
    };
    QString text = line(header);
    for (const QStringList& r : rows)
        text += line(r);
    return text;
}

QString counted(qsizetype n, const QString& one, const QString& many) {
    return QStringLiteral("%1 %2").arg(n).arg(n == 1 ? one : many);
}

QString progressText(const QString& prefix, double fraction, const QString& suffix, int columns,
                     int widest) {
    const int room = columns - 1 - displayWidth(prefix) - displayWidth(suffix) - 2;
    const int width = std::clamp(room, 5, std::max(5, widest));
    const int filled = std::clamp(int(std::lround(fraction * width)), 0, width);
    return QStringLiteral("%1[%2%3]%4")
        .arg(prefix, QString(filled, QLatin1Char('#')), QString(width - filled, QLatin1Char('-')),
             suffix);
}

int ProgressLine::terminalWidth() {
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
}

QString ProgressLine::fitted(const QString& text, int width) {
    const int room = std::max(1, width - 1);
    if (displayWidth(text) <= room)
        return text;
    QString cut;
    for (const QChar c : text) {
        if (displayWidth(cut + c) > room - 1)
            break;
        cut += c;
    }
    return cut + QChar(0x2026);
}

void ProgressLine::show(const QString& text) {
    if (!enabled_ || !::isatty(STDERR_FILENO))
        return;
    // Back to the line's start, the new text, the rest of the line cleared: one line, however
    // often it is drawn.
    err() << '\r' << fitted(text, terminalWidth()) << "\x1b[K";
    err().flush();
    shown_ = true;
}

void ProgressLine::clear() {
    if (!shown_)
        return;
    err() << "\r\x1b[K";
    err().flush();
    shown_ = false;
}

} // namespace tamberlo::cli
