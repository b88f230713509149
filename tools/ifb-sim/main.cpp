// ifb-sim: plays the interface board for the tool and its tests (options in docs/ifb-sim.md).
#include "board.h"
#include "board_text.h"
#include "links.h"
#include "ota/ota_device.h"
#include "ota_result.h"
#include "port_pin.h"
#include "scenario.h"
#include "simulator.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QHostAddress>
#include <QSocketNotifier>
#include <QTimer>

#include <array>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sys/socket.h>
#include <unistd.h>

namespace
{

int g_signalPipe[2] = {-1, -1};

// The OTA service's defaults: the tool's upload password and the board's OTA partition.
constexpr const char* kUploadPassword = nx7::product::kUploadPassword;
constexpr long kOtaPartitionSize = 1310720;
constexpr quint16 kOtaPort = nx7::product::kOtaPort;

void OnSignal(int)
{
    const char b = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &b, 1);
}

[[noreturn]] void Fail(const QString& message, int code = 2)
{
    std::fprintf(stderr, "ifb-sim: %s\n", message.toLocal8Bit().constData());
    std::exit(code);
}

// Decimal, or hexadecimal with "0x".
long ParseNumber(const QString& text, const char* option, long min, long max)
{
    bool ok = false;
    const long v = text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive) ? text.mid(2).toLong(&ok, 16)
                                                                             : text.toLong(&ok, 10);
    if (!ok || v < min || v > max)
        Fail(QStringLiteral("--%1: not a number in %2..%3: %4")
                 .arg(QLatin1String(option))
                 .arg(min)
                 .arg(max)
                 .arg(text));
    return v;
}

std::array<std::uint8_t, 4> ParseIpv4(const QString& text, const char* option)
{
    QHostAddress a;
    if (!a.setAddress(text) || a.protocol() != QAbstractSocket::IPv4Protocol)
        Fail(QStringLiteral("--%1: not an IPv4 address: %2").arg(QLatin1String(option), text));
    const quint32 v = a.toIPv4Address();
    return {static_cast<std::uint8_t>(v >> 24), static_cast<std::uint8_t>(v >> 16),
            static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
}

} // namespace

using ifbsim::BoardText;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("ifb-sim"));

    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral("Interface board simulator"));
    p.addHelpOption();
    const QCommandLineOption pty(QStringLiteral("pty"),
                                 QStringLiteral("Offer a pseudo-terminal (default without TCP)."));
    const QCommandLineOption tcpServer(QStringLiteral("tcp-server"),
                                       QStringLiteral("Listen on 127.0.0.1:<port>."), QStringLiteral("port"));
    const QCommandLineOption tcpClient(
        QStringLiteral("tcp-client"), QStringLiteral("Connect to <host:port>."), QStringLiteral("host:port"));
    const QCommandLineOption pin(QStringLiteral("pin"), QStringLiteral("Settings file to pin the pty in."),
                                 QStringLiteral("settings.ini"));
    const QCommandLineOption com(QStringLiteral("com"), QStringLiteral("COM number for --pin."),
                                 QStringLiteral("n"));
    const QCommandLineOption mode(QStringLiteral("mode"), QStringLiteral("Operation-mode word."),
                                  QStringLiteral("word"));
    const QCommandLineOption rom(QStringLiteral("rom-version"), QStringLiteral("ROM version text."),
                                 QStringLiteral("text"));
    const QCommandLineOption romAfter(QStringLiteral("rom-after-update"),
                                      QStringLiteral("ROM version after a restart that follows an OK."),
                                      QStringLiteral("text"));
    const QCommandLineOption rollBack(
        QStringLiteral("roll-back"),
        QStringLiteral("The restart after an update's brings the old version back."));
    const QCommandLineOption nextBoards(
        QStringLiteral("next-boards"),
        QStringLiteral("Boards that follow, each when the previous one's session ends: ID[:OK|BR|none],..."),
        QStringLiteral("list"));
    const QCommandLineOption model(QStringLiteral("model"), QStringLiteral("Model name."),
                                   QStringLiteral("text"));
    const QCommandLineOption targetId(QStringLiteral("target-id"), QStringLiteral("Target identifier."),
                                      QStringLiteral("n"));
    const QCommandLineOption ssid(QStringLiteral("ssid"), QStringLiteral("Wi-Fi network name."),
                                  QStringLiteral("text"));
    const QCommandLineOption wifiPassword(QStringLiteral("wifi-password"), QStringLiteral("Wi-Fi password."),
                                          QStringLiteral("text"));
    const QCommandLineOption netParams(
        QStringLiteral("net-params"), QStringLiteral("25-byte parameter block, hex."), QStringLiteral("hex"));
    const QCommandLineOption apIp(QStringLiteral("ap-ip"), QStringLiteral("Access-point address."),
                                  QStringLiteral("ip"));
    const QCommandLineOption apPort(QStringLiteral("ap-port"), QStringLiteral("Access-point port."),
                                    QStringLiteral("n"));
    const QCommandLineOption apName(QStringLiteral("ap-name"), QStringLiteral("Access-point name."),
                                    QStringLiteral("text"));
    const QCommandLineOption otaIp(QStringLiteral("ota-ip"), QStringLiteral("Address in the OTA status."),
                                   QStringLiteral("ip"));
    const QCommandLineOption otaPort(QStringLiteral("ota-port"), QStringLiteral("Port in the OTA status."),
                                     QStringLiteral("n"));
    const QCommandLineOption afterPolls(QStringLiteral("station-after-polls"),
                                        QStringLiteral("A station has joined from this status poll on."),
                                        QStringLiteral("n"));
    const QCommandLineOption afterMs(QStringLiteral("station-after-ms"),
                                     QStringLiteral("A station joins this long after OTA mode began."),
                                     QStringLiteral("ms"));
    const QCommandLineOption noStation(QStringLiteral("no-station"),
                                       QStringLiteral("No station ever joins."));
    const QCommandLineOption otaResult(QStringLiteral("ota-result"),
                                       QStringLiteral("Update verdict: OK, BR or none."),
                                       QStringLiteral("verdict"));
    const QCommandLineOption otaResultDelay(QStringLiteral("ota-result-delay-ms"),
                                            QStringLiteral("Verdict delay after the first joined poll."),
                                            QStringLiteral("ms"));
    const QCommandLineOption otaResultFrom(
        QStringLiteral("ota-result-from-session"),
        QStringLiteral("OTA sessions before this one (counted from 1) get no verdict."), QStringLiteral("n"));
    const QCommandLineOption otaService(QStringLiteral("ota-service"),
                                        QStringLiteral("Receive real OTA uploads while in OTA mode."));
    const QCommandLineOption otaListenPort(QStringLiteral("ota-listen-port"),
                                           QStringLiteral("UDP port of the OTA service (3232)."),
                                           QStringLiteral("n"));
    const QCommandLineOption otaPassword(QStringLiteral("ota-password"),
                                         QStringLiteral("Upload password of the OTA service."),
                                         QStringLiteral("text"));
    const QCommandLineOption otaAuth(QStringLiteral("ota-auth"),
                                     QStringLiteral("Challenge: md5, sha256 or sha256-md5key."),
                                     QStringLiteral("scheme"));
    const QCommandLineOption otaMaxSize(QStringLiteral("ota-max-size"),
                                        QStringLiteral("Largest image the OTA partition takes."),
                                        QStringLiteral("bytes"));
    const QCommandLineOption saveImage(QStringLiteral("save-image"),
                                       QStringLiteral("Write the last received image to this file."),
                                       QStringLiteral("file"));
    const QCommandLineOption restartMs(QStringLiteral("restart-ms"),
                                       QStringLiteral("Silence after a restart."), QStringLiteral("ms"));
    const QCommandLineOption scenarioFile(QStringLiteral("scenario"), QStringLiteral("Scenario file."),
                                          QStringLiteral("file"));
    const QCommandLineOption fault(QStringLiteral("fault"),
                                   QStringLiteral("One scenario directive (repeatable)."),
                                   QStringLiteral("directive"));
    const QCommandLineOption control(QStringLiteral("control"),
                                     QStringLiteral("Answer faults appended to this file while running."),
                                     QStringLiteral("file"));
    const QCommandLineOption record(QStringLiteral("record"),
                                    QStringLiteral("Append every request frame, as hex."),
                                    QStringLiteral("file"));
    const QCommandLineOption verbose({QStringLiteral("v"), QStringLiteral("verbose")},
                                     QStringLiteral("Log to standard error."));
    const QCommandLineOption exitAfter(QStringLiteral("exit-after-ms"),
                                       QStringLiteral("End after this long."), QStringLiteral("ms"));
    p.addOption(control);
    p.addOptions({pty,       tcpServer,      tcpClient,     pin,          com,          mode,       rom,
                  romAfter,  model,          targetId,      ssid,         wifiPassword, netParams,  apIp,
                  apPort,    apName,         otaIp,         otaPort,      afterPolls,   afterMs,    noStation,
                  otaResult, otaResultDelay, restartMs,     scenarioFile, fault,        record,     verbose,
                  exitAfter, otaService,     otaListenPort, otaPassword,  otaAuth,      otaMaxSize, saveImage,
                  rollBack,  otaResultFrom,  nextBoards});
    p.process(app);
    if (!p.positionalArguments().isEmpty())
        Fail(QStringLiteral("unexpected argument: %1").arg(p.positionalArguments().first()));

    ifbsim::BoardConfig config;
    if (p.isSet(mode))
        config.modeWord = static_cast<std::uint16_t>(ParseNumber(p.value(mode), "mode", 0, 0xFFFF));
    if (p.isSet(rom))
        config.romVersion = BoardText(p.value(rom));
    if (p.isSet(romAfter))
        config.romAfterUpdate = BoardText(p.value(romAfter));
    config.rollBack = p.isSet(rollBack);
    bool nextVerdictGiven = false;
    if (p.isSet(nextBoards)) {
        for (const QString& item : p.value(nextBoards).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            const QStringList parts = item.trimmed().split(QLatin1Char(':'));
            if (parts.size() > 2)
                Fail(QStringLiteral("--next-boards: ID[:OK|BR|none] expected: %1").arg(item));
            ifbsim::NextBoard next;
            next.targetId = static_cast<std::uint16_t>(ParseNumber(parts.at(0), "next-boards", 0, 0xFFFF));
            if (parts.size() == 2) {
                nextVerdictGiven = true;
                const QString v = parts.at(1);
                if (v == QLatin1String("none"))
                    next.verdict.clear();
                else if (v == QLatin1String("OK") || v == QLatin1String("BR"))
                    next.verdict = v.toStdString();
                else
                    Fail(QStringLiteral("--next-boards: OK, BR or none expected: %1").arg(item));
            }
            config.nextBoards.push_back(next);
        }
        if (config.nextBoards.empty())
            Fail(QStringLiteral("--next-boards: at least one board expected"));
    }
    if (p.isSet(model))
        config.modelName = BoardText(p.value(model));
    if (p.isSet(targetId))
        config.targetId = static_cast<std::uint16_t>(ParseNumber(p.value(targetId), "target-id", 0, 0xFFFF));
    if (p.isSet(ssid))
        config.ssid = BoardText(p.value(ssid));
    if (p.isSet(wifiPassword))
        config.wifiPassword = BoardText(p.value(wifiPassword));
    if (p.isSet(netParams)) {
        const auto block = ifbsim::ParseHexBytes(p.value(netParams).toStdString());
        if (!block || block->size() != config.netBlock.size())
            Fail(QStringLiteral("--net-params: 25 bytes in hex expected"));
        std::copy(block->begin(), block->end(), config.netBlock.begin());
    }
    if (p.isSet(apIp))
        config.apAddress = ParseIpv4(p.value(apIp), "ap-ip");
    if (p.isSet(apPort))
        config.apPort = static_cast<std::uint16_t>(ParseNumber(p.value(apPort), "ap-port", 0, 0xFFFF));
    if (p.isSet(apName))
        config.apName = BoardText(p.value(apName));
    config.otaAddress = p.isSet(otaIp) ? ParseIpv4(p.value(otaIp), "ota-ip") : config.apAddress;
    config.otaPort = p.isSet(otaPort)
                         ? static_cast<std::uint16_t>(ParseNumber(p.value(otaPort), "ota-port", 0, 0xFFFF))
                         : config.apPort;
    if (p.isSet(afterPolls))
        config.stationAfterPolls =
            static_cast<int>(ParseNumber(p.value(afterPolls), "station-after-polls", 0, 1000000));
    if (p.isSet(afterMs))
        config.stationAfterMs =
            static_cast<int>(ParseNumber(p.value(afterMs), "station-after-ms", 0, 100000000));
    config.noStation = p.isSet(noStation);
    if (p.isSet(restartMs))
        config.restartMs = static_cast<int>(ParseNumber(p.value(restartMs), "restart-ms", 0, 100000000));

    QByteArray verdict = "OK";
    if (p.isSet(otaResult)) {
        const QString v = p.value(otaResult);
        if (v == QLatin1String("none"))
            verdict.clear();
        else if (v == QLatin1String("OK") || v == QLatin1String("BR"))
            verdict = v.toLatin1();
        else
            Fail(QStringLiteral("--ota-result: OK, BR or none expected"));
    }
    const int verdictDelay =
        p.isSet(otaResultDelay)
            ? static_cast<int>(ParseNumber(p.value(otaResultDelay), "ota-result-delay-ms", 0, 100000000))
            : 0;

    ifbsim::Scenario scenario;
    if (p.isSet(scenarioFile)) {
        QFile f(p.value(scenarioFile));
        if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
            Fail(QStringLiteral("cannot read %1: %2").arg(f.fileName(), f.errorString()));
        int lineNo = 0;
        while (!f.atEnd()) {
            ++lineNo;
            const QByteArray line = f.readLine();
            if (const auto err = scenario.AddLine(line.toStdString()))
                Fail(QStringLiteral("%1:%2: %3")
                         .arg(f.fileName())
                         .arg(lineNo)
                         .arg(QString::fromStdString(*err)));
        }
    }
    for (const QString& d : p.values(fault)) {
        if (const auto err = scenario.AddLine(d.toStdString()))
            Fail(QString::fromStdString(*err));
    }

    // The OTA service: a real upload decides the verdict instead of the timer.
    const bool wantOtaService = p.isSet(otaService);
    nx7::ota::OtaDeviceConfig ota;
    if (wantOtaService) {
        ota.address = QHostAddress((static_cast<quint32>(config.apAddress[0]) << 24) |
                                   (static_cast<quint32>(config.apAddress[1]) << 16) |
                                   (static_cast<quint32>(config.apAddress[2]) << 8) | config.apAddress[3]);
        // Loopback only: tests in parallel each take their own 127.0.0.N with the fixed port.
        if (!ota.address.isLoopback())
            Fail(QStringLiteral("--ota-service needs a loopback --ap-ip such as 127.0.0.1, not %1")
                     .arg(ota.address.toString()));
        ota.port =
            p.isSet(otaListenPort)
                ? static_cast<quint16>(ParseNumber(p.value(otaListenPort), "ota-listen-port", 1, 65535))
                : kOtaPort;
        ota.password = p.isSet(otaPassword) ? p.value(otaPassword).toUtf8() : QByteArray(kUploadPassword);
        if (p.isSet(otaAuth)) {
            const QString scheme = p.value(otaAuth);
            if (scheme == QLatin1String("md5"))
                ota.auth = nx7::ota::DeviceAuth::Md5;
            else if (scheme == QLatin1String("sha256"))
                ota.auth = nx7::ota::DeviceAuth::Sha256;
            else if (scheme == QLatin1String("sha256-md5key"))
                ota.auth = nx7::ota::DeviceAuth::Sha256Md5PwHash;
            else
                Fail(QStringLiteral("--ota-auth: md5, sha256 or sha256-md5key expected"));
        }
        ota.maxImageSize = p.isSet(otaMaxSize)
                               ? ParseNumber(p.value(otaMaxSize), "ota-max-size", 1, 16 * 1024 * 1024)
                               : kOtaPartitionSize;
        ota.faults.wrongPassword = scenario.ota.wrongPassword;
        ota.faults.dropAfterBytes = scenario.ota.dropAfterBytes;
        ota.faults.corruptOffset = scenario.ota.corruptAt;
        ota.faults.firstTransferOnly = scenario.ota.firstOnly;
        // The version comes from the received image.
        config.romAfterUpdate.reset();
    } else {
        for (const QCommandLineOption* o :
             {&otaListenPort, &otaPassword, &otaAuth, &otaMaxSize, &saveImage}) {
            if (p.isSet(*o))
                Fail(QStringLiteral("--%1 needs --ota-service").arg(o->names().first()));
        }
        if (scenario.ota.Any())
            Fail(QStringLiteral("the OTA faults need --ota-service"));
    }
    if (wantOtaService && nextVerdictGiven)
        Fail(QStringLiteral("--next-boards: with --ota-service the transfer decides the verdict"));

    const bool wantTcpServer = p.isSet(tcpServer);
    const bool wantTcpClient = p.isSet(tcpClient);
    const bool wantPty = p.isSet(pty) || (!wantTcpServer && !wantTcpClient);
    if (p.isSet(pin) != p.isSet(com))
        Fail(QStringLiteral("--pin and --com go together"));
    if (p.isSet(pin) && !wantPty)
        Fail(QStringLiteral("--pin needs the pseudo-terminal"));

    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0)
        Fail(QStringLiteral("socketpair failed"), 1);
    QSocketNotifier signalNotifier(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &app, [] {
        char b;
        [[maybe_unused]] const ssize_t n = ::read(g_signalPipe[0], &b, 1);
        QCoreApplication::quit();
    });
    struct sigaction sa {
    };
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    ifbsim::OtaResultTrigger* trigger = nullptr;
    if (wantOtaService)
        trigger = new ifbsim::TransferOtaResult(ota, p.value(saveImage));
    else
        trigger = new ifbsim::TimedOtaResult(
            verdict, verdictDelay,
            p.isSet(otaResultFrom)
                ? static_cast<int>(ParseNumber(p.value(otaResultFrom), "ota-result-from-session", 1, 1000000))
                : 1);
    ifbsim::Simulator sim(config, std::move(scenario), trigger);
    sim.SetVerbose(p.isSet(verbose));
    if (p.isSet(control))
        sim.SetControlFile(p.value(control));
    QString error;
    if (p.isSet(record) && !sim.OpenRecord(p.value(record), &error))
        Fail(QStringLiteral("--record: %1").arg(error), 1);

    if (wantPty) {
        auto* channel = new ifbsim::PtyChannel(&sim);
        if (!channel->Open(&error))
            Fail(error, 1);
        if (p.isSet(pin)) {
            const int number = static_cast<int>(ParseNumber(p.value(com), "com", 1, 255));
            if (!ifbsim::PinPortFile(p.value(pin), number, channel->SlavePath(), &error))
                Fail(QStringLiteral("--pin: %1").arg(error), 1);
        }
        sim.AttachPty(channel);
        std::printf("PTY %s\n", channel->SlavePath().toLocal8Bit().constData());
        std::fflush(stdout);
    }
    if (wantTcpServer) {
        auto* server = new ifbsim::TcpServerLink(&sim);
        sim.AttachServer(server);
        if (!server->Listen(static_cast<quint16>(ParseNumber(p.value(tcpServer), "tcp-server", 0, 65535)),
                            &error))
            Fail(QStringLiteral("--tcp-server: %1").arg(error), 1);
        std::printf("TCP %u\n", static_cast<unsigned>(server->Port()));
        std::fflush(stdout);
    }
    if (wantTcpClient) {
        const QString target = p.value(tcpClient);
        const qsizetype colon = target.lastIndexOf(QLatin1Char(':'));
        if (colon <= 0)
            Fail(QStringLiteral("--tcp-client: host:port expected"));
        const auto port = static_cast<quint16>(ParseNumber(target.mid(colon + 1), "tcp-client", 1, 65535));
        auto* client = new ifbsim::TcpClientLink(target.left(colon), port, &sim);
        sim.AttachClient(client);
        client->Start();
    }

    if (p.isSet(exitAfter))
        QTimer::singleShot(static_cast<int>(ParseNumber(p.value(exitAfter), "exit-after-ms", 0, 2000000000)),
                           &app, &QCoreApplication::quit);
    return QCoreApplication::exec();
}
