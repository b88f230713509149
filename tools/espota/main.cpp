// espota: uploads an application or file-system image to an ESP32 board over its OTA service.
#include "comm/uploader_handover.h"
#include "console_log.h"
#include "uploader.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>

#include <csignal>
#include <cstdio>

using nx7::espota::ConsoleLog;
using nx7::espota::UploadOptions;

namespace
{

constexpr int kExitBadOptions = 2;
// Longer is no password but a mistake (the wrong descriptor, a file piped in).
constexpr qsizetype kMaxPasswordBytes = 4096;

int BadOptions(ConsoleLog& log, const QCommandLineParser& parser, const QString& why)
{
    log.Error(why);
    const QByteArray usage = parser.helpText().toLocal8Bit();
    std::fwrite(usage.constData(), 1, static_cast<size_t>(usage.size()), stderr);
    return kExitBadOptions;
}

bool ParsePort(const QString& text, quint16* port)
{
    bool ok = false;
    const uint v = text.toUInt(&ok);
    if (!ok || v == 0 || v > 65535)
        return false;
    *port = static_cast<quint16>(v);
    return true;
}

bool IsMd5Hex(const QString& text)
{
    if (text.size() != 32)
        return false;
    for (QChar c : text) {
        if (!c.isDigit() && !(c >= QLatin1Char('a') && c <= QLatin1Char('f')) &&
            !(c >= QLatin1Char('A') && c <= QLatin1Char('F')))
            return false;
    }
    return true;
}

// The password written into descriptor `fd` (a pipe or file), up to its end or first line break.
bool ReadPasswordFromFd(const QString& text, QByteArray* password, QString* why)
{
    bool ok = false;
    const int fd = text.toInt(&ok);
    if (!ok || fd < 0) {
        *why = QStringLiteral("Bad descriptor: %1").arg(text);
        return false;
    }
    QFile in;
    if (!in.open(fd, QIODevice::ReadOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
        *why = QStringLiteral("Cannot read descriptor %1: %2").arg(fd).arg(in.errorString());
        return false;
    }
    QByteArray data;
    char buffer[512];
    while (data.size() <= kMaxPasswordBytes && !data.contains('\n')) {
        const qint64 n = in.read(buffer, sizeof buffer);
        if (n <= 0)
            break;
        data.append(buffer, n);
    }
    const qsizetype end = data.indexOf('\n');
    if (end >= 0)
        data.truncate(end);
    if (data.endsWith('\r'))
        data.chop(1);
    if (data.size() > kMaxPasswordBytes) {
        *why = QStringLiteral("The password from descriptor %1 is too long").arg(fd);
        return false;
    }
    *password = data;
    return true;
}

// The password from the environment variable `name`, which is then removed so that nothing this
// process starts inherits it.
bool ReadPasswordFromEnvironment(const QString& name, QByteArray* password, QString* why)
{
    const QByteArray key = name.toLocal8Bit();
    if (name.isEmpty() || !qEnvironmentVariableIsSet(key.constData())) {
        *why = QStringLiteral("The environment variable %1 is not set").arg(name);
        return false;
    }
    *password = qEnvironmentVariable(key.constData()).toUtf8();
    qunsetenv(key.constData());
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    // A board that resets the connection must end in an error message, not a signal.
#ifdef SIGPIPE // POSIX only; Windows reports a reset connection as a socket error anyway
    std::signal(SIGPIPE, SIG_IGN);
#endif
    QCoreApplication app(argc, argv);

    QCommandLineParser parser;
    // The handover marker is part of the description, so the executable carries it for the tool.
    parser.setApplicationDescription(
        QStringLiteral("Uploads a firmware image to an ESP32 board over OTA.\n") +
        QString::fromLatin1(nx7::handover::kOwnUploaderMarker));
    parser.addHelpOption();
    const QCommandLineOption ipOpt({QStringLiteral("i"), QStringLiteral("ip")},
                                   QStringLiteral("ESP32 IP address (required)."), QStringLiteral("ip"));
    const QCommandLineOption hostIpOpt({QStringLiteral("I"), QStringLiteral("host_ip")},
                                       QStringLiteral("Host IP address (default: all addresses)."),
                                       QStringLiteral("host_ip"));
    const QCommandLineOption portOpt(
        {QStringLiteral("p"), QStringLiteral("port")},
        QStringLiteral("ESP32 OTA port (default %1).").arg(nx7::product::kOtaPort), QStringLiteral("port"),
        QString::number(nx7::product::kOtaPort));
    const QCommandLineOption hostPortOpt({QStringLiteral("P"), QStringLiteral("host_port")},
                                         QStringLiteral("Host server port (default: random 10000-60000)."),
                                         QStringLiteral("host_port"));
    const QCommandLineOption authOpt({QStringLiteral("a"), QStringLiteral("auth")},
                                     QStringLiteral("Password for the board (default: none)."),
                                     QStringLiteral("password"));
    const QCommandLineOption authEnvOpt(
        QStringLiteral("auth-env"),
        QStringLiteral("Take the password from this environment variable (kept off the command line)."),
        QStringLiteral("variable"));
    const QCommandLineOption authFdOpt(
        QStringLiteral("auth-fd"),
        QStringLiteral("Read the password from this file descriptor, up to its end or first line break."),
        QStringLiteral("fd"));
    const QCommandLineOption fileOpt({QStringLiteral("f"), QStringLiteral("file")},
                                     QStringLiteral("Image file to upload (required)."),
                                     QStringLiteral("file"));
    const QCommandLineOption spiffsOpt({QStringLiteral("s"), QStringLiteral("spiffs")},
                                       QStringLiteral("The file is a file-system image."));
    const QCommandLineOption debugOpt({QStringLiteral("d"), QStringLiteral("debug")},
                                      QStringLiteral("Show debug output."));
    const QCommandLineOption progressOpt({QStringLiteral("r"), QStringLiteral("progress")},
                                         QStringLiteral("Show a progress bar."));
    const QCommandLineOption timeoutOpt({QStringLiteral("t"), QStringLiteral("timeout")},
                                        QStringLiteral("Seconds to wait for each answer (default 10)."),
                                        QStringLiteral("seconds"), QStringLiteral("10"));
    const QCommandLineOption md5Opt({QStringLiteral("m"), QStringLiteral("md5-target")},
                                    QStringLiteral("MD5 to announce instead of the file's own."),
                                    QStringLiteral("md5"));
    parser.addOptions({ipOpt, hostIpOpt, portOpt, hostPortOpt, authOpt, authEnvOpt, authFdOpt, fileOpt,
                       spiffsOpt, debugOpt, progressOpt, timeoutOpt, md5Opt});

    ConsoleLog log(false); // option errors need no debug output
    if (!parser.parse(QCoreApplication::arguments()))
        return BadOptions(log, parser, parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return 0;
    }
    if (!parser.positionalArguments().isEmpty())
        return BadOptions(
            log, parser,
            QStringLiteral("Unrecognized arguments: %1").arg(parser.positionalArguments().join(' ')));
    if (!parser.isSet(ipOpt) || parser.value(ipOpt).isEmpty())
        return BadOptions(log, parser, QStringLiteral("The board's address (-i) is required"));
    if (!parser.isSet(fileOpt) || parser.value(fileOpt).isEmpty())
        return BadOptions(log, parser, QStringLiteral("The image file (-f) is required"));

    UploadOptions opt;
    opt.ip = parser.value(ipOpt);
    opt.hostIp = parser.value(hostIpOpt);
    opt.file = parser.value(fileOpt);
    const int passwordSources = (parser.isSet(authOpt) ? 1 : 0) + (parser.isSet(authEnvOpt) ? 1 : 0) +
                                (parser.isSet(authFdOpt) ? 1 : 0);
    if (passwordSources > 1)
        return BadOptions(log, parser,
                          QStringLiteral("Only one of -a, --auth-env and --auth-fd may be given"));
    QString why;
    if (parser.isSet(authEnvOpt)) {
        if (!ReadPasswordFromEnvironment(parser.value(authEnvOpt), &opt.password, &why))
            return BadOptions(log, parser, why);
    } else if (parser.isSet(authFdOpt)) {
        if (!ReadPasswordFromFd(parser.value(authFdOpt), &opt.password, &why))
            return BadOptions(log, parser, why);
    } else {
        opt.password = parser.value(authOpt).toUtf8();
    }
    opt.spiffs = parser.isSet(spiffsOpt);
    opt.progressBar = parser.isSet(progressOpt);
    if (!ParsePort(parser.value(portOpt), &opt.port))
        return BadOptions(log, parser, QStringLiteral("Bad port: %1").arg(parser.value(portOpt)));
    if (parser.isSet(hostPortOpt) && !ParsePort(parser.value(hostPortOpt), &opt.hostPort))
        return BadOptions(log, parser, QStringLiteral("Bad host port: %1").arg(parser.value(hostPortOpt)));
    bool ok = false;
    const double seconds = parser.value(timeoutOpt).toDouble(&ok);
    if (!ok || !(seconds > 0) || seconds > 3600)
        return BadOptions(log, parser, QStringLiteral("Bad timeout: %1").arg(parser.value(timeoutOpt)));
    // seconds is positive here, so adding 0.5 and truncating rounds to nearest.
    opt.timeoutMs = qMax(1, static_cast<int>(seconds * 1000 + 0.5)); // NOLINT(bugprone-incorrect-roundings)
    if (parser.isSet(md5Opt)) {
        if (!IsMd5Hex(parser.value(md5Opt)))
            return BadOptions(log, parser, QStringLiteral("Bad MD5: %1").arg(parser.value(md5Opt)));
        opt.md5Target = parser.value(md5Opt).toLower().toLatin1();
    }

    ConsoleLog runLog(parser.isSet(debugOpt));
    nx7::espota::Uploader uploader(opt, runLog);
    return uploader.Run();
}
