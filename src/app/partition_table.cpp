#include "app/partition_table.h"

#include "platform/code_page.h"
#include "platform/ini_file.h"

#include <QRegularExpression>
#include <QStringDecoder>

namespace nx7
{

namespace
{

// The partition table is plain text: a byte-order mark names its encoding, else it is CP932.
QString DecodeText(const QByteArray& bytes)
{
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return QString::fromUtf8(bytes.mid(3));
    if (bytes.startsWith("\xFF\xFE"))
        return QStringDecoder(QStringConverter::Utf16LE).decode(bytes.mid(2));
    if (bytes.startsWith("\xFE\xFF"))
        return QStringDecoder(QStringConverter::Utf16BE).decode(bytes.mid(2));
    return FromAnsi(bytes);
}

bool IsBlank(QChar c)
{
    return c.unicode() >= 1 && c.unicode() <= 0x20;
}

qsizetype SkipBlanks(const QString& line, qsizetype i)
{
    while (i < line.size() && IsBlank(line.at(i)))
        ++i;
    return i;
}

// The quoted field whose opening quote is at `i`; returns the index after its closing quote (the
// end of the line when it has none).
qsizetype ReadQuoted(const QString& line, qsizetype i, QString& field)
{
    ++i;
    while (i < line.size()) {
        const QChar c = line.at(i++);
        if (c != QLatin1Char('"')) {
            field.append(c);
        } else if (i < line.size() && line.at(i) == QLatin1Char('"')) {
            field.append(c);
            ++i;
        } else {
            break;
        }
    }
    return i;
}

// The unquoted field from `i` up to a blank or a comma; returns the index after it.
qsizetype ReadBare(const QString& line, qsizetype i, QString& field)
{
    const qsizetype start = i;
    while (i < line.size() && !IsBlank(line.at(i)) && line.at(i) != QLatin1Char(','))
        ++i;
    field = line.mid(start, i - start);
    return i;
}

} // namespace

QStringList SplitCommaText(const QString& line)
{
    QStringList fields;
    const qsizetype n = line.size();
    qsizetype i = SkipBlanks(line, 0);
    while (i < n) {
        QString field;
        i = line.at(i) == QLatin1Char('"') ? ReadQuoted(line, i, field) : ReadBare(line, i, field);
        fields.append(field);
        i = SkipBlanks(line, i);
        if (i < n && line.at(i) == QLatin1Char(',')) {
            // A comma at the very end still closes an empty last field.
            if (i + 1 == n)
                fields.append(QString());
            i = SkipBlanks(line, i + 1);
        }
    }
    return fields;
}

std::optional<int> SpiffsOffsetOf(const QByteArray& table)
{
    static const QRegularExpression lineBreak(QStringLiteral("\r\n|\r|\n"));
    std::optional<int> offset;
    for (const QString& line : DecodeText(table).split(lineBreak)) {
        const QStringList fields = SplitCommaText(line);
        if (fields.size() >= 5 &&
            QString::compare(fields.at(2), QStringLiteral("spiffs"), Qt::CaseInsensitive) == 0)
            offset = ParseIniInteger(fields.at(3)).value_or(0);
    }
    return offset;
}

} // namespace nx7
