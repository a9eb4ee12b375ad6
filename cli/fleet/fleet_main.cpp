// kelvora-fleet: the window's inquiry and update for many cameras at once.

#include "cli/fleet/fleetcommand.h"
#include "cli/fleet/interruptwatcher.h"
#include "fleet/targets.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTextStream>

#include <cstdio>

namespace {

QtMessageHandler previousHandler = nullptr;

// The shared code writes the tool's debug trace; each camera's goes to --log-dir instead.
void quietHandler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type != QtDebugMsg && type != QtInfoMsg && previousHandler)
        previousHandler(type, context, message);
}

const char kOverview[] =
    "Usage: kelvora-fleet COMMAND [options] TARGET...\n"
    "\n"
    "Asks many cameras of the QV- family for their model and versions, and updates their firmware,\n"
    "each camera as the window would.\n"
    "\n"
    "Commands:\n"
    "  scan    the model and the nine versions of every camera, or why not\n"
    "  plan    what update would send to each camera from a firmware folder; nothing is sent\n"
    "  update  sends the planned files, camera by camera, and checks the versions afterwards\n"
    "\n"
    "kelvora-fleet COMMAND --help tells more. kelvora-fleet --version gives the version.\n";

const char kTargetsHelp[] =
    "\nTargets:\n"
    "  HOST, HOST:PORT   a camera as typed into the window (port 80 is the same camera as none)\n"
    "  A.B.C.D/N         every address of an IPv4 range, N from 22 to 32; up to /30 the network\n"
    "                    and broadcast addresses are left out\n"
    "  @FILE             one target a line; blank lines and \"#\" comments are skipped\n"
    "A camera named twice is asked once.\n";

const char kPlanHelp[] =
    "\nWhat is sent: the section the window accepts for the camera's model, if Execute accepts its\n"
    "versions. By default a component whose file's version and the camera's are both known and\n"
    "differ; --all sends every component with a file (the window's ticks); --only narrows either to\n"
    "the list-file keys given: cam_cpu, network_cpu, servo_cpu, interface_cpu, front_fpga,\n"
    "backend_fpga, lens_fpga, eeprom_cam, interface_eeprom. Files go in the list file's order (vupno).\n";

const char kCredentialsHelp[] =
    "\nCredentials: KELVORA_USER and KELVORA_PASSWORD, or asked on the terminal (the password\n"
    "without echo). Never on the command line. Without a terminal both variables must be set.\n"
    "Ctrl-C: no new camera starts and no further file is sent; cameras that hold a file are\n"
    "followed to their end and the report is still written. A second Ctrl-C stops at once.\n";

const char kExitScan[] = "\nExit status: 0 every camera answered, 1 some did not, 2 bad usage.\n";
const char kExitPlan[] =
    "\nExit status: 0 every camera has a plan, 1 some have not, 2 bad usage or an unreadable folder.\n";
const char kExitUpdate[] =
    "\nExit status: 0 every camera completed and shows the folder's versions, 1 some did not,\n"
    "2 bad usage, an unreadable folder or missing credentials.\n";

const char kScanColumns[] =
    "\nTable columns: CAM cam_cpu, NET network_cpu, SERVO servo_cpu, IF-CPU interface_cpu,\n"
    "FRONT front_fpga, BACK backend_fpga, LENS lens_fpga, CAM-EEP eeprom_cam, IF-EEP interface_eeprom.\n";

struct CommandInfo {
    FleetCommandKind kind;
    const char* name;
    const char* description;
};

constexpr CommandInfo kCommands[] = {
    {FleetCommandKind::Scan, "scan", "Asks every camera for its model and the versions of its nine components."},
    {FleetCommandKind::Plan, "plan", "Shows, per camera, what update would send from the firmware folder. Sends nothing."},
    {FleetCommandKind::Update, "update", "Updates every camera from the firmware folder, as the window would, and checks\n"
                                         "its versions afterwards."},
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kelvora-fleet"));
    QCoreApplication::setApplicationVersion(QLatin1String(kFleetVersion));
    previousHandler = qInstallMessageHandler(quietHandler);

    QTextStream out(stdout);
    QTextStream err(stderr);
    const auto usageError = [&](const QString& why) {
        err << "kelvora-fleet: " << why << "\nTry kelvora-fleet --help.\n";
        return 2;
    };

    const QStringList arguments = QCoreApplication::arguments();
    const QString first = arguments.value(1);
    if (first == u"--version" || first == u"-v") {
        out << "kelvora-fleet " << kFleetVersion << '\n';
        return 0;
    }
    if (first.isEmpty() || first == u"--help" || first == u"-h") {
        (first.isEmpty() ? err : out) << kOverview;
        return first.isEmpty() ? 2 : 0;
    }
    const CommandInfo* info = nullptr;
    for (const CommandInfo& c : kCommands) {
        if (first == QLatin1String(c.name))
            info = &c;
    }
    if (!info)
        return usageError(QStringLiteral("unknown command \"%1\"").arg(first));

    FleetCommand command;
    command.kind = info->kind;
    const bool scan = command.kind == FleetCommandKind::Scan;
    const bool update = command.kind == FleetCommandKind::Update;

    QCommandLineParser parser;
    parser.setApplicationDescription(QLatin1String(info->description));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("Write the result as JSON."));
    const QCommandLineOption parallel(
        QStringLiteral("parallel"),
        QStringLiteral("Cameras at work at once, 1 to %1 (default %2).").arg(kMaxParallel).arg(scan ? kScanParallel : kUpdateParallel),
        QStringLiteral("N"));
    const QCommandLineOption folder(QStringLiteral("folder"), QStringLiteral("The firmware folder (required)."),
                                    QStringLiteral("DIR"));
    const QCommandLineOption all(QStringLiteral("all"), QStringLiteral("Send every component that has a file."));
    const QCommandLineOption only(QStringLiteral("only"), QStringLiteral("Send only these components (list-file keys)."),
                                  QStringLiteral("KEY,..."));
    const QCommandLineOption report(QStringLiteral("report"),
                                    QStringLiteral("Write the outcome per camera as JSON, whole or not at all."),
                                    QStringLiteral("FILE"));
    const QCommandLineOption logDir(QStringLiteral("log-dir"), QStringLiteral("Write each camera's debug log to DIR/ADDRESS.log."),
                                    QStringLiteral("DIR"));
    const QCommandLineOption yes(QStringLiteral("yes"), QStringLiteral("Do not ask before sending."));
    if (scan)
        parser.addOptions({json, parallel});
    else if (!update)
        parser.addOptions({folder, all, only, json});
    else
        parser.addOptions({folder, all, only, parallel, report, logDir, yes});
    parser.addPositionalArgument(QStringLiteral("TARGET"), QStringLiteral("A camera, a range or @FILE (below)."),
                                 QStringLiteral("TARGET..."));

    if (!parser.parse(QStringList{arguments.first()} + arguments.mid(2)))
        return usageError(parser.errorText());
    if (parser.isSet(help)) {
        QString text = parser.helpText();
        text = QStringLiteral("Usage: kelvora-fleet %1 [options] TARGET...").arg(QLatin1String(info->name))
            + text.mid(text.indexOf(QLatin1Char('\n')));
        out << text << kTargetsHelp;
        if (scan)
            out << kScanColumns << kExitScan;
        else
            out << kPlanHelp << (update ? kCredentialsHelp : "") << (update ? kExitUpdate : kExitPlan);
        return 0;
    }
    if (parser.isSet(version)) {
        out << "kelvora-fleet " << kFleetVersion << '\n';
        return 0;
    }

    const TargetList targets = parseTargets(parser.positionalArguments());
    if (!targets.error.isEmpty())
        return usageError(targets.error);
    command.addresses = targets.addresses;
    command.json = !update && parser.isSet(json);

    if (command.kind != FleetCommandKind::Plan && parser.isSet(parallel)) {
        bool ok = false;
        const int n = parser.value(parallel).toInt(&ok);
        if (!ok || n < 1 || n > kMaxParallel)
            return usageError(QStringLiteral("--parallel takes a number from 1 to %1").arg(kMaxParallel));
        // update's --parallel is for its runs; its inquiries go as many at once as scan's.
        (scan ? command.inquiries : command.runs) = n;
    }

    FirmwareFolder firmware;
    if (!scan) {
        if (!parser.isSet(folder))
            return usageError(QStringLiteral("%1 needs --folder DIR").arg(QLatin1String(info->name)));
        QString why;
        if (!firmware.open(parser.value(folder), &why)) {
            err << "kelvora-fleet: the firmware folder \"" << parser.value(folder) << "\" " << why << '\n';
            return 2;
        }
        command.choice.all = parser.isSet(all);
        if (!parseOnlyKeys(parser.values(only), &command.choice.only, &why))
            return usageError(why);
    }

    if (update) {
        command.yes = parser.isSet(yes);
        command.reportPath = parser.value(report);
        if (parser.isSet(report)) {
            const QFileInfo file(command.reportPath);
            const QFileInfo dir(file.absolutePath());
            if (command.reportPath.isEmpty() || file.isDir() || !dir.isDir() || !dir.isWritable())
                return usageError(QStringLiteral("cannot write the report \"%1\"").arg(command.reportPath));
        }
        command.logDir = parser.value(logDir);
        if (parser.isSet(logDir)) {
            const QFileInfo dir(command.logDir);
            if (command.logDir.isEmpty() || !QDir().mkpath(command.logDir) || !dir.isDir() || !dir.isWritable())
                return usageError(QStringLiteral("cannot write logs into \"%1\"").arg(command.logDir));
        }
        QString why;
        if (!obtainCredentials(QProcessEnvironment::systemEnvironment(), &command.credentials, &why)) {
            err << "kelvora-fleet: " << why << '\n';
            return 2;
        }
    }
    out.flush();
    err.flush();

    InterruptWatcher interrupts;
    return runFleetCommand(command, scan ? nullptr : &firmware, &interrupts);
}
