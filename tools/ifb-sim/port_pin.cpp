#include "port_pin.h"

#include <QFile>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QStringList>

namespace ifbsim
{

namespace
{

struct Segment {
    QString text;
    QString end; // "\r\n", "\n" or "" for a last line without terminator
};

QList<Segment> SplitLines(const QString& all)
{
    QList<Segment> out;
    qsizetype start = 0;
    while (start < all.size()) {
        const qsizetype nl = all.indexOf(QLatin1Char('\n'), start);
        if (nl < 0) {
            out.append({all.mid(start), QString()});
            break;
        }
        qsizetype stop = nl;
        if (stop > start && all.at(stop - 1) == QLatin1Char('\r'))
            --stop;
        out.append({all.mid(start, stop - start), all.mid(stop, nl + 1 - stop)});
        start = nl + 1;
    }
    return out;
}

// The section name of a "[name]" line, or a null string.
QString SectionName(const QString& line)
{
    const QString t = line.trimmed();
    if (!t.startsWith(QLatin1Char('[')))
        return {};
    const qsizetype close = t.indexOf(QLatin1Char(']'));
    if (close < 0)
        return {};
    return t.mid(1, close - 1).trimmed();
}

QString EditText(const QString& all, int number, const QString& devicePath)
{
    const QString newline = all.contains(QLatin1String("\r\n")) || !all.contains(QLatin1Char('\n'))
                                ? QStringLiteral("\r\n")
                                : QStringLiteral("\n");
    const QString key = QStringLiteral("COM%1").arg(number);
    const QString entry = key + QLatin1Char('=') + devicePath;
    QList<Segment> lines = SplitLines(all);

    qsizetype header = -1;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (SectionName(lines[i].text).compare(QLatin1String("PortMap"), Qt::CaseInsensitive) == 0) {
            header = i;
            break;
        }
    }
    if (header < 0) {
        if (!lines.isEmpty() && lines.last().end.isEmpty())
            lines.last().end = newline;
        lines.append({QStringLiteral("[PortMap]"), newline});
        lines.append({entry, newline});
    } else {
        qsizetype insertAt = header + 1;
        bool replaced = false;
        for (qsizetype i = header + 1; i < lines.size(); ++i) {
            const QString& t = lines[i].text;
            if (!SectionName(t).isNull())
                break;
            const QString trimmed = t.trimmed();
            if (trimmed.isEmpty())
                continue;
            insertAt = i + 1;
            const qsizetype eq = t.indexOf(QLatin1Char('='));
            if (trimmed.startsWith(QLatin1Char(';')) || eq < 0)
                continue;
            if (t.left(eq).trimmed().compare(key, Qt::CaseInsensitive) == 0) {
                lines[i].text = entry;
                replaced = true;
                break;
            }
        }
        if (!replaced) {
            if (lines[insertAt - 1].end.isEmpty())
                lines[insertAt - 1].end = newline;
            lines.insert(insertAt, {entry, newline});
        }
    }
    QString out;
    for (const Segment& s : lines)
        out += s.text + s.end;
    return out;
}

} // namespace

QByteArray PinPortInIni(const QByteArray& original, int number, const QString& devicePath)
{
    if (original.startsWith("\xFF\xFE") || original.startsWith("\xFE\xFF")) {
        const bool le = original.startsWith("\xFF\xFE");
        const auto enc = le ? QStringConverter::Utf16LE : QStringConverter::Utf16BE;
        QStringDecoder decode(enc);
        QString text = decode(original.mid(2));
        QStringEncoder encode(enc);
        return original.left(2) + QByteArray(encode(EditText(text, number, devicePath)));
    }
    // Without a 16-bit mark every byte is kept as it is; what we add is plain ASCII.
    const bool bom = original.startsWith("\xEF\xBB\xBF");
    const QString text = QString::fromLatin1(bom ? original.mid(3) : original);
    return (bom ? original.left(3) : QByteArray()) + EditText(text, number, devicePath).toLatin1();
}

bool PinPortFile(const QString& iniPath, int number, const QString& devicePath, QString* error)
{
    QByteArray original;
    QFile in(iniPath);
    if (in.exists()) {
        if (!in.open(QIODevice::ReadOnly)) {
            *error = in.errorString();
            return false;
        }
        original = in.readAll();
        in.close();
    }
    QSaveFile out(iniPath);
    if (!out.open(QIODevice::WriteOnly)) {
        *error = out.errorString();
        return false;
    }
    out.write(PinPortInIni(original, number, devicePath));
    if (!out.commit()) {
        *error = out.errorString();
        return false;
    }
    return true;
}

} // namespace ifbsim
