// kelvora-fleet: the window's inquiry and update for many cameras at once.

#include "cli/fleet/fleetcommand.h"
#include "cli/fleet/interruptwatcher.h"
#include "fleet/fleetpolicy.h"
#include "fleet/history.h"
#include "fleet/targets.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTextStream>

#include <sys/resource.h>

#include <cstdio>
#include <limits>

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
    "  scan     the model and the nine versions of every camera, or why not\n"
    "  plan     what update would send to each camera from a firmware folder; nothing is sent\n"
    "  update   sends the planned files, camera by camera, and checks the versions afterwards\n"
    "  report   prints the report file of an update as a table or CSV\n"
    "  history  what earlier updates sent to each camera, when, and how they ended\n"
    "\n"
    "kelvora-fleet COMMAND --help tells more. kelvora-fleet --version gives the version.\n";

const char kTargetsHelp[] =
    "\nTargets:\n"
    "  HOST, HOST:PORT   a camera as typed into the window (port 80 is the same camera as none)\n"
    "  A.B.C.D/N[:PORT]  every address of an IPv4 range, N from 22 to 32; up to /30 the network\n"
    "                    and broadcast addresses are left out\n"
    "  @FILE             one target a line; blank lines and \"#\" comments are skipped\n"
    "A camera named twice is asked once. --exclude takes the same forms (a range of any size;\n"
    "a HOST without a port leaves out that host on every port).\n";

const char kPlanHelp[] =
    "\nWhat is sent: the section the window accepts for the camera's model, if Execute accepts its\n"
    "versions. By default a component whose file's version and the camera's are both known and\n"
    "differ; --all sends every component with a file (the window's ticks); --only narrows either to\n"
    "the list-file keys given: cam_cpu, network_cpu, servo_cpu, interface_cpu, front_fpga,\n"
    "backend_fpga, lens_fpga, eeprom_cam, interface_eeprom. Files go in the list file's order (vupno).\n"
    "A camera whose components asked for already have the folder's versions is up to date. A folder\n"
    "with SHA256SUMS sends only files whose bytes it lists.\n";

const char kUpdateHelp[] =
    "\nCredentials: --credentials FILE gives cameras their own: one entry a line, TARGET USER PASSWORD\n"
    "separated by single spaces (the password is the rest of the line), \"#\" lines skipped; the most\n"
    "specific entry wins (HOST:PORT, then HOST, then the narrowest range). The file must be private\n"
    "(chmod 600). Cameras without an entry use KELVORA_USER and KELVORA_PASSWORD, or are asked on the\n"
    "terminal (the password without echo). Never on the command line.\n"
    "\n"
    "Report and resume: --report FILE is rewritten whole each time a camera ends, so after a crash it\n"
    "holds every camera that had ended. --resume FILE carries on from such a report: cameras that\n"
    "completed and verified, or were up to date, are left alone; every other one is asked afresh and\n"
    "planned from its versions now, so no file goes again to a camera that already runs it. The folder\n"
    "and components default to the report's, and the report is written to FILE again.\n"
    "\n"
    "Canary and failure budget: --canary N updates the first N cameras (in target order) first, alone;\n"
    "the others start only when each of them completed and verified or was up to date. --max-failures N\n"
    "starts no further camera once N have failed (cameras at work finish). Cameras held back end as\n"
    "not-started.\n"
    "\n"
    "History: each update adds its report to $XDG_STATE_HOME/kelvora/history.jsonl (by default\n"
    "~/.local/state/kelvora/); --no-history leaves it out. kelvora-fleet history reads it.\n"
    "\n"
    "Ctrl-C: no new camera starts and no further file is sent; cameras that hold a file are\n"
    "followed to their end and the report is still written. A second Ctrl-C stops at once.\n";

const char kExitScan[] = "\nExit status: 0 every camera answered, 1 some did not, 2 bad usage.\n";
const char kExitPlan[] =
    "\nExit status: 0 every camera has a plan or is up to date, 1 some have not, 2 bad usage or an\n"
    "unreadable folder.\n";
const char kExitUpdate[] =
    "\nExit status: 0 every camera completed and shows the folder's versions, or was up to date, or had\n"
    "nothing to send; 1 some did not; 2 bad usage, an unreadable folder, a file SHA256SUMS refuses,\n"
    "a credentials file others can read, missing credentials or a report that cannot be written.\n";
const char kExitRead[] = "\nExit status: 0 printed, 2 bad usage or a file that cannot be read.\n";

const char kScanColumns[] =
    "\nTable columns: CAM cam_cpu, NET network_cpu, SERVO servo_cpu, IF-CPU interface_cpu,\n"
    "FRONT front_fpga, BACK backend_fpga, LENS lens_fpga, CAM-EEP eeprom_cam, IF-EEP interface_eeprom.\n";

struct CommandInfo {
    FleetCommandKind kind;
    const char* name;
    const char* arguments;
    const char* description;
};

constexpr CommandInfo kCommands[] = {
    {FleetCommandKind::Scan, "scan", "TARGET...", "Asks every camera for its model and the versions of its nine components."},
    {FleetCommandKind::Plan, "plan", "TARGET...", "Shows, per camera, what update would send from the firmware folder. Sends nothing."},
    {FleetCommandKind::Update, "update", "TARGET...", "Updates every camera from the firmware folder, as the window would, and checks\n"
                                                      "its versions afterwards."},
    {FleetCommandKind::Report, "report", "FILE", "Prints the report file of an update: the run, then one row per camera."},
    {FleetCommandKind::History, "history", "[TARGET...]",
     "Prints what earlier updates sent to each camera, when, and how they ended (all cameras,\n"
     "or those of the targets given)."},
};

// Raises the open-file limit to what the system allows this process, and returns it: a
// thousand cameras at once need a few thousand descriptors, and the usual soft limit is 1024.
qint64 raiseOpenFileLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 1024;
    if (limit.rlim_cur < limit.rlim_max) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max;
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0)
            limit = raised;
    }
    return limit.rlim_cur == RLIM_INFINITY ? std::numeric_limits<qint64>::max() : qint64(limit.rlim_cur);
}

// A count option: a number from 1 to `most`.
bool countValue(const QCommandLineParser& parser, const QCommandLineOption& option, int most, int* value)
{
    bool ok = false;
    const int n = parser.value(option).toInt(&ok);
    if (!ok || n < 1 || n > most)
        return false;
    *value = n;
    return true;
}

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
    const auto failure = [&](const QString& why) {
        err << "kelvora-fleet: " << why << '\n';
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
    const bool plan = command.kind == FleetCommandKind::Plan;
    const bool update = command.kind == FleetCommandKind::Update;
    const bool report = command.kind == FleetCommandKind::Report;
    const bool history = command.kind == FleetCommandKind::History;

    QCommandLineParser parser;
    parser.setApplicationDescription(QLatin1String(info->description));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("Write the result as JSON."));
    const QCommandLineOption csv(QStringLiteral("csv"), QStringLiteral("Write the result as CSV, for a spreadsheet."));
    const QCommandLineOption parallel(
        QStringLiteral("parallel"),
        QStringLiteral("Cameras at work at once, 1 to %1 (default %2).").arg(kMaxParallel).arg(scan ? kScanParallel : kUpdateParallel),
        QStringLiteral("N"));
    const QCommandLineOption exclude(QStringLiteral("exclude"),
                                     QStringLiteral("Leave out these cameras (a target or range; may be repeated)."),
                                     QStringLiteral("TARGET"));
    const QCommandLineOption folder(QStringLiteral("folder"),
                                    update ? QStringLiteral("The firmware folder (required, unless --resume gives it).")
                                           : QStringLiteral("The firmware folder (required)."),
                                    QStringLiteral("DIR"));
    const QCommandLineOption all(QStringLiteral("all"), QStringLiteral("Send every component that has a file."));
    const QCommandLineOption only(QStringLiteral("only"), QStringLiteral("Send only these components (list-file keys)."),
                                  QStringLiteral("KEY,..."));
    const QCommandLineOption reportFile(QStringLiteral("report"),
                                        QStringLiteral("Keep the outcome per camera as JSON in FILE, rewritten whole as cameras end."),
                                        QStringLiteral("FILE"));
    const QCommandLineOption logDir(QStringLiteral("log-dir"),
                                    QStringLiteral("Write each camera's debug log, with UTC times, to DIR/ADDRESS.log."),
                                    QStringLiteral("DIR"));
    const QCommandLineOption yes(QStringLiteral("yes"), QStringLiteral("Do not ask before sending."));
    const QCommandLineOption credentialsFile(QStringLiteral("credentials"),
                                             QStringLiteral("Cameras' own user IDs and passwords, from a private FILE (below)."),
                                             QStringLiteral("FILE"));
    const QCommandLineOption resume(QStringLiteral("resume"),
                                    QStringLiteral("Carry on from the report FILE of an interrupted update (below)."),
                                    QStringLiteral("FILE"));
    const QCommandLineOption canary(QStringLiteral("canary"),
                                    QStringLiteral("Update the first N cameras first, alone; the rest only if they succeed."),
                                    QStringLiteral("N"));
    const QCommandLineOption maxFailures(QStringLiteral("max-failures"),
                                         QStringLiteral("Start no further camera once N cameras have failed."),
                                         QStringLiteral("N"));
    const QCommandLineOption noHistory(QStringLiteral("no-history"),
                                       QStringLiteral("Do not add this update to the history."));
    if (scan)
        parser.addOptions({json, csv, parallel, exclude});
    else if (plan)
        parser.addOptions({folder, all, only, json, exclude});
    else if (update)
        parser.addOptions({folder, all, only, parallel, credentialsFile, reportFile, logDir, resume,
                           canary, maxFailures, exclude, noHistory, yes});
    else
        parser.addOptions({csv});
    if (report)
        parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("A report written by update --report."));
    else
        parser.addPositionalArgument(QStringLiteral("TARGET"), QStringLiteral("A camera, a range or @FILE (below)."),
                                     QLatin1String(info->arguments));

    if (!parser.parse(QStringList{arguments.first()} + arguments.mid(2)))
        return usageError(parser.errorText());
    if (parser.isSet(help)) {
        QString text = parser.helpText();
        text = QStringLiteral("Usage: kelvora-fleet %1 [options] %2").arg(QLatin1String(info->name), QLatin1String(info->arguments))
            + text.mid(text.indexOf(QLatin1Char('\n')));
        out << text;
        if (!report)
            out << kTargetsHelp;
        if (scan)
            out << kScanColumns << kExitScan;
        else if (plan)
            out << kPlanHelp << kExitPlan;
        else if (update)
            out << kPlanHelp << kUpdateHelp << kExitUpdate;
        else
            out << kExitRead;
        return 0;
    }
    if (parser.isSet(version)) {
        out << "kelvora-fleet " << kFleetVersion << '\n';
        return 0;
    }
    command.json = (scan || plan) && parser.isSet(json);
    command.csv = (scan || report || history) && parser.isSet(csv);
    if (command.json && command.csv)
        return usageError(QStringLiteral("--json and --csv cannot go together"));
    const QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();

    if (report) {
        if (parser.positionalArguments().size() != 1)
            return usageError(QStringLiteral("report takes one FILE"));
        command.reportPath = parser.positionalArguments().constFirst();
        return runFleetCommand(command, nullptr, nullptr);
    }
    if (history) {
        QString why;
        if (!parseTargetPatterns(parser.positionalArguments(), &command.historyTargets, &why))
            return usageError(why);
        command.historyPath = historyPath(environment);
        if (command.historyPath.isEmpty())
            return failure(QStringLiteral("neither XDG_STATE_HOME nor HOME says where the history is kept"));
        return runFleetCommand(command, nullptr, nullptr);
    }

    // The report an update resumes: its cameras come first, then those named here.
    QStringList targets = parser.positionalArguments();
    if (update && parser.isSet(resume)) {
        QString why;
        if (!readReport(parser.value(resume), &command.previous, &why))
            return failure(QStringLiteral("the report \"%1\" %2").arg(parser.value(resume), why));
        if (command.previous.run.folder.isEmpty())
            return failure(QStringLiteral("the report \"%1\" is not one of an update (it names no folder)").arg(parser.value(resume)));
        command.resumed = true;
        QStringList fromReport;
        for (const CameraReport& r : command.previous.cameras)
            fromReport << r.address;
        targets = fromReport + targets;
    }
    const TargetList parsed = parseTargets(targets);
    if (!parsed.error.isEmpty())
        return usageError(parsed.error);
    QList<TargetPattern> excluded;
    QString why;
    if (!parseTargetPatterns(parser.values(exclude), &excluded, &why))
        return usageError(why);
    command.addresses = withoutMatching(parsed.addresses, excluded);
    if (command.addresses.isEmpty())
        return usageError(QStringLiteral("every target is excluded"));

    if ((scan || update) && parser.isSet(parallel)) {
        int n = 0;
        if (!countValue(parser, parallel, kMaxParallel, &n))
            return usageError(QStringLiteral("--parallel takes a number from 1 to %1").arg(kMaxParallel));
        // update's --parallel is for its runs; its inquiries go as many at once as scan's.
        (scan ? command.inquiries : command.runs) = n;
    }
    // More at once than the open-file limit allows would fail cameras for the tool's sake.
    const qint64 openFiles = raiseOpenFileLimit();
    for (int* n : {&command.inquiries, &command.runs}) {
        const int allowed = parallelWithin(*n, openFiles);
        if (allowed < *n && (n == &command.runs ? update : parser.isSet(parallel) || allowed < int(command.addresses.size())))
            err << "kelvora-fleet: " << (n == &command.runs ? "runs" : "inquiries") << " at once lowered from " << *n
                << " to " << allowed << ": the open-file limit is " << openFiles << '\n';
        *n = allowed;
    }

    FirmwareFolder firmware;
    if (!scan) {
        QString dir = parser.value(folder);
        if (!parser.isSet(folder) && command.resumed)
            dir = command.previous.run.folder;
        if (dir.isEmpty())
            return usageError(QStringLiteral("%1 needs --folder DIR").arg(QLatin1String(info->name)));
        if (!firmware.open(dir, &why))
            return failure(QStringLiteral("the firmware folder \"%1\" %2").arg(dir, why));
        command.choice.all = parser.isSet(all);
        if (!parseOnlyKeys(parser.values(only), &command.choice.only, &why))
            return usageError(why);
        if (command.resumed && !parser.isSet(all) && !parser.isSet(only))
            command.choice = command.previous.run.choice;
        // A resumed update never sends a file again that the camera already runs.
        command.choice.skipCurrent = command.resumed;
    }

    if (update) {
        command.yes = parser.isSet(yes);
        if (parser.isSet(canary) && !countValue(parser, canary, int(command.addresses.size()), &command.canary))
            return usageError(QStringLiteral("--canary takes a number from 1 to the number of cameras (%1)")
                                  .arg(command.addresses.size()));
        if (parser.isSet(maxFailures) && !countValue(parser, maxFailures, int(command.addresses.size()), &command.maxFailures))
            return usageError(QStringLiteral("--max-failures takes a number from 1 to the number of cameras (%1)")
                                  .arg(command.addresses.size()));
        command.reportPath = parser.isSet(reportFile) ? parser.value(reportFile)
            : command.resumed                         ? parser.value(resume)
                                                      : QString();
        if (parser.isSet(reportFile) || command.resumed) {
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
        if (parser.isSet(credentialsFile) && !readCredentialsFile(parser.value(credentialsFile), &command.credentialsFile, &why))
            return failure(why);
        // The credentials for all are asked only when a camera to be asked has no entry.
        bool needed = false;
        for (const QString& address : std::as_const(command.addresses)) {
            const bool done = command.resumed
                && std::any_of(command.previous.cameras.begin(), command.previous.cameras.end(),
                               [&](const CameraReport& r) { return r.address == address && resumeSkips(r); });
            needed = needed || (!done && !command.credentialsFile.find(address));
        }
        if (needed && !obtainCredentials(environment, &command.credentials, &why))
            return failure(why);
        if (!parser.isSet(noHistory)) {
            command.historyPath = historyPath(environment);
            if (command.historyPath.isEmpty())
                err << "kelvora-fleet: neither XDG_STATE_HOME nor HOME is set: this update is not added to the history\n";
        }
    }
    out.flush();
    err.flush();

    InterruptWatcher interrupts;
    return runFleetCommand(command, scan ? nullptr : &firmware, &interrupts);
}
