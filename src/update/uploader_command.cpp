#include "update/uploader_command.h"

#include "update/tool_runner.h"

#include <QRegularExpression>

namespace nx7
{

namespace
{

QString QuotedPassword(const QString& password)
{
#ifdef Q_OS_WIN
    return password;
#else
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9._+-]*$"));
    return plain.match(password).hasMatch() ? password : QuoteForInterpreter(password);
#endif
}

} // namespace

QString FormatApAddress(std::uint32_t address)
{
    return QStringLiteral("%1.%2.%3.%4")
        .arg((address >> 24) & 0xFFu)
        .arg((address >> 16) & 0xFFu)
        .arg((address >> 8) & 0xFFu)
        .arg(address & 0xFFu);
}

QString BuildUploaderCommand(const QString& uploader, const QString& address, std::uint16_t port,
                             const QString& password, const QString& imagePath, const QStringList& extra,
                             const QStringList& passwordArguments)
{
    QString line = QuoteForInterpreter(uploader) + QStringLiteral(" -i ") + address + QStringLiteral(" -p ") +
                   QString::number(port);
    for (const QString& piece : extra)
        line += QLatin1Char(' ') + piece;
    if (passwordArguments.isEmpty())
        line += QStringLiteral(" --auth=") + QuotedPassword(password);
    for (const QString& piece : passwordArguments)
        line += QLatin1Char(' ') + QuotedPassword(piece);
    line += QStringLiteral(" -f ") + QuoteForInterpreter(imagePath);
#ifdef Q_OS_WIN
    // cmd.exe /C strips one outer pair of quotes when the line begins with a quote.
    return QLatin1Char('"') + line + QLatin1Char('"');
#else
    return line;
#endif
}

} // namespace nx7
