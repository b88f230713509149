#include "app/app_main.h"

#include "app/headless.h"
#include "app/main_window.h"
#include "app/qt_ui.h"
#include "app/termination_signals.h"
#include "dialogs/about_box.h"
#include "platform/app_paths.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QStringList>
#include <QTimer>
#include <cstdio>

namespace
{

const char* const kUsage =
    "Usage: nx7ifbprog [--verbose]\n"
    "       nx7ifbprog --headless [--write [--repeat]] [--yes | --no] [--verbose] [--port COM<n>]\n"
    "       nx7ifbprog --support-bundle FILE.zip [--force]\n"
    "       nx7ifbprog --help | --version\n"
    "\n"
    "  --headless     run the start-up check (and the write) without a window; log lines go to\n"
    "                 standard output, dialogs to standard error and are answered automatically\n"
    "  --write        after a passing start, write the built-in firmware once\n"
    "  --repeat       with --write: after each verdict wait for the next board (another target id,\n"
    "                 or the port back after it went away), check it as at start and write it, until\n"
    "                 Ctrl+C; then a summary (boards written, OK / NG, checks failed, one line each)\n"
    "  --yes / --no   answer questions and the Wi-Fi join dialog with Yes/OK or No/Cancel (default)\n"
    "  --verbose      verbose log and engine trace from the start\n"
    "  --port COM<n>  the port to accept in the port dialog (default: the configured one)\n"
    "  --support-bundle FILE.zip\n"
    "                 save the support information (logs, settings with passwords masked,\n"
    "                 versions, network, serial ports, firewall) into FILE.zip and exit; an\n"
    "                 existing FILE.zip is left as it is (exit status 1) unless --force is given,\n"
    "                 a symbolic link never written through\n"
    "  --force        with --support-bundle: replace an existing FILE.zip\n"
    "\n"
    "Exit status: 0 ready (and, with --write, verdict OK); 1 otherwise; 2 unusable arguments;\n"
    "             with --repeat 0 only when every board was written and OK;\n"
    "             128 + the signal's number when ended by a signal: 129 SIGHUP (terminal closed),\n"
    "             130 SIGINT, 131 SIGQUIT, 143 SIGTERM (the board's mode restored, the image removed,\n"
    "             settings saved).\n";

struct Arguments {
    bool headless = false;
    bool help = false;
    bool version = false;
    bool no = false;
    QString bundle;     // --support-bundle FILE.zip
    bool force = false; // --force: the bundle may replace an existing file
    QString unknown;    // the first option the tool does not know, named in the error
    nx7::HeadlessOptions options;
};

// The flag an on/off option sets, or nullptr when `a` is none of them.
bool* FlagOf(Arguments& args, const QString& a)
{
    if (a == QLatin1String("--headless"))
        return &args.headless;
    if (a == QLatin1String("--write"))
        return &args.options.write;
    if (a == QLatin1String("--repeat"))
        return &args.options.repeat;
    if (a == QLatin1String("--yes"))
        return &args.options.yes;
    if (a == QLatin1String("--no"))
        return &args.no;
    if (a == QLatin1String("--verbose"))
        return &args.options.verbose;
    if (a == QLatin1String("--help") || a == QLatin1String("-h"))
        return &args.help;
    if (a == QLatin1String("--version"))
        return &args.version;
    if (a == QLatin1String("--force"))
        return &args.force;
    return nullptr;
}

// An option with a value, given as "--name VALUE" or "--name=VALUE": stores the value into `value`
// and moves `i` past it. False when argv[i] is not that option (or lacks its value).
bool TakeValue(const char* name, int argc, char** argv, int& i, QString& value)
{
    const QString a = QString::fromLocal8Bit(argv[i]);
    const QString option = QLatin1String(name);
    if (a == option && i + 1 < argc) {
        value = QString::fromLocal8Bit(argv[++i]);
        return true;
    }
    if (a.startsWith(option + QLatin1Char('='))) {
        value = a.mid(option.size() + 1);
        return true;
    }
    return false;
}

// "COM1" to "COM255".
bool IsComName(const QString& port)
{
    bool ok = false;
    const int n = port.mid(3).toInt(&ok);
    return port.startsWith(QLatin1String("COM")) && ok && n >= 1 && n <= 255;
}

// Whether the options given go together.
bool Consistent(const Arguments& args)
{
    const bool boardRun = args.options.write || args.options.yes || args.no || !args.options.port.isEmpty();
    if (args.options.yes && args.no)
        return false;
    // The loop repeats the write.
    if (args.options.repeat && !args.options.write)
        return false;
    // The bundle is a run of its own: no board, no window.
    if (!args.bundle.isEmpty() && boardRun)
        return false;
    // Only the bundle replaces a file on request.
    if (args.force && args.bundle.isEmpty())
        return false;
    if (!args.options.port.isEmpty() && !IsComName(args.options.port))
        return false;
    // Answers and the write belong to the headless run.
    return args.headless || !boardRun;
}

bool Parse(int argc, char** argv, Arguments& args)
{
    for (int i = 1; i < argc; ++i) {
        if (bool* flag = FlagOf(args, QString::fromLocal8Bit(argv[i]))) {
            *flag = true;
            continue;
        }
        if (TakeValue("--port", argc, argv, i, args.options.port) ||
            TakeValue("--support-bundle", argc, argv, i, args.bundle))
            continue;
        args.unknown = QString::fromLocal8Bit(argv[i]);
        return false;
    }
    return Consistent(args);
}

} // namespace

namespace nx7
{

int RunApplication(int argc, char** argv)
{
    Arguments args;
    if (!Parse(argc, argv, args)) {
        if (!args.unknown.isEmpty())
            std::fprintf(stderr, "%s\n",
                         (QStringLiteral("不明なオプション: ") + args.unknown).toLocal8Bit().constData());
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (args.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (args.version) {
        std::printf("nx7ifbprog %s\n", NX7_VERSION);
        return 0;
    }

    if (!args.bundle.isEmpty()) {
        QCoreApplication app(argc, argv);
        return nx7::RunSupportBundle(args.bundle, QStringLiteral(NX7_VERSION), args.force);
    }
    if (args.headless) {
        QCoreApplication app(argc, argv);
        return nx7::RunHeadless(args.options);
    }

    QApplication app(argc, argv);
    nx7::InstallQtTranslations(app);
    QApplication::setQuitOnLastWindowClosed(false);
    nx7::TNX7IFBProgAppForm form;
    if (args.options.verbose)
        form.Core().SwitchDiagnosticsOn();
    form.Core().AddLog(nx7::SettingsFileLogLine(form.Core().SettingsPath), false);
    nx7::TAboutBox aboutBox(&form, [&form] { form.Core().SwitchDiagnosticsOn(); });
    form.SetAboutBox(&aboutBox);
    // An interrupt closes the window as the user would, without the question: a running write
    // stops, the board gets its mode back, the settings are saved.
    int caught = 0;
    nx7::TerminationSignals signalWatch([&](int signo) {
        if (caught != 0)
            return;
        caught = signo;
        form.Core().AbortWrite();
        form.close();
        // Dialogs open now or later are dismissed, so the flow that runs them unwinds.
        auto* dismiss = new QTimer(&form);
        QObject::connect(dismiss, &QTimer::timeout, [] {
            if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
                dialog->reject();
        });
        dismiss->start(100);
    });
    form.show();
    const int status = QApplication::exec();
    return caught != 0 ? 128 + caught : status;
}

} // namespace nx7
