// Writes a placeholder ESP32 application image carrying a given version text, for builds that
// embed no real firmware and for tests.
#include "ota/esp_image.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QSaveFile>

#include <cstdio>

namespace
{

int Fail(const QString& text, int code)
{
    std::fprintf(stderr, "mkfwimage: %s\n", qPrintable(text));
    return code;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Writes a placeholder ESP32 application image."));
    parser.addHelpOption();
    const QCommandLineOption versionOpt(
        QStringLiteral("version"),
        QStringLiteral("Version text of the application description (at most 31 bytes)."),
        QStringLiteral("text"));
    const QCommandLineOption sizeOpt(QStringLiteral("size"),
                                     QStringLiteral("Approximate image size in bytes."),
                                     QStringLiteral("bytes"), QStringLiteral("65536"));
    const QCommandLineOption projectOpt(QStringLiteral("project"), QStringLiteral("Project name."),
                                        QStringLiteral("name"), QStringLiteral("ifb"));
    const QCommandLineOption outOpt({QStringLiteral("o"), QStringLiteral("output")},
                                    QStringLiteral("File to write."), QStringLiteral("file"));
    parser.addOptions({versionOpt, sizeOpt, projectOpt, outOpt});
    if (!parser.parse(QCoreApplication::arguments()))
        return Fail(parser.errorText() + QLatin1Char('\n') + parser.helpText(), 2);
    if (parser.isSet(QStringLiteral("help"))) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return 0;
    }
    if (!parser.positionalArguments().isEmpty())
        return Fail(QStringLiteral("unexpected argument %1").arg(parser.positionalArguments().first()), 2);
    if (!parser.isSet(versionOpt) || !parser.isSet(outOpt))
        return Fail(QStringLiteral("--version and -o are required\n") + parser.helpText(), 2);

    const QString version = parser.value(versionOpt);
    if (version.isEmpty() || version.toUtf8().size() >= nx7::ota::kVersionFieldSize)
        return Fail(QStringLiteral("the version text must have 1 to 31 bytes"), 2);
    bool ok = false;
    const qint64 size = parser.value(sizeOpt).toLongLong(&ok);
    if (!ok || size <= 0 || size > 16 * 1024 * 1024)
        return Fail(QStringLiteral("bad --size %1 (1 to 16 MiB)").arg(parser.value(sizeOpt)), 2);

    const QByteArray image = nx7::ota::BuildAppImage(version, parser.value(projectOpt), size);
    QSaveFile out(parser.value(outOpt));
    if (!out.open(QIODevice::WriteOnly) || out.write(image) != image.size() || !out.commit())
        return Fail(QStringLiteral("cannot write %1: %2").arg(parser.value(outOpt), out.errorString()), 1);
    return 0;
}
