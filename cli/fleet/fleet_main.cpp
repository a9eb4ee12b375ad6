// kelvora-fleet: the window's inquiry and update for many cameras at once.

#include "cli/fleet/fleetcommand.h"
#include "cli/fleet/interruptwatcher.h"
#include "cli/fleet/standardoutput.h"
#include "fleet/fleetpolicy.h"
#include "fleet/history.h"
#include "fleet/targets.h"
#include "update/firmwarefiles.h"
#include "update/updatelock.h"

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
    "  scan     the model and the nine versions of every camera, or why not\n"
    "  plan     what update would send to each camera from a firmware folder; nothing is sent\n"
    "  update   sends the planned files, camera by camera, and checks the versions afterwards\n"
    "  report   prints the report file of an update as a table, CSV or an HTML page\n"
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
    "specific entry wins (HOST:PORT, then HOST, then the narrowest range; a range may carry :PORT).\n"
    "The file must be private (chmod 600). Cameras without an entry use KELVORA_USER and\n"
    "KELVORA_PASSWORD, or are asked on the terminal (the password without echo). Never on the\n"
    "command line.\n"
    "\n"
    "One update per camera: an update holds a lock on each of its cameras and on its report until it\n"
    "ends (in $XDG_RUNTIME_DIR/kelvora/locks/, else ~/.local/state/kelvora/locks/). Another update,\n"
    "or the window, that names a camera or report already held refuses to start (exit 2), naming\n"
    "the cameras and the process that holds them. A killed process holds nothing. scan and plan\n"
    "take no lock.\n"
    "\n"
    "Report and resume: --report FILE is rewritten whole each time a camera's file is answered and\n"
    "each time a camera ends, so after a crash it holds what every camera had taken. --resume FILE\n"
    "carries on from such a report: cameras that completed and verified, or were up to date, are\n"
    "carried over unchanged (the report marks them); every other one is asked afresh (one left\n"
    "writing its firmware is waited for as a run waits) and planned from its versions now, and is\n"
    "never sent a file the report says it took. The folder, components, --parallel, --canary and\n"
    "--max-failures are the report's unless given anew, and the report is written to FILE again. A\n"
    "resume is refused (exit 2) when the folder, the components asked for, the folder's list file\n"
    "or any file the report recorded has changed since: it would judge old cameras by a new folder.\n"
    "\n"
    "Canary and failure budget: --canary N updates the first N cameras (in target order) that have\n"
    "files to send first, alone; cameras up to date, unreachable or refused are neither canaries nor\n"
    "held back by them. The others start only when each canary camera completed and verified; the\n"
    "summary names the canary. --max-failures N starts no further camera once N have failed (cameras\n"
    "at work finish). Cameras held back end as not-started.\n"
    "\n"
    "History: each update adds its report to $XDG_STATE_HOME/kelvora/history.jsonl (by default\n"
    "~/.local/state/kelvora/); --no-history leaves it out. kelvora-fleet history reads it.\n"
    "\n"
    "Ctrl-C: no new camera starts and no further file is sent; cameras that hold a file are\n"
    "followed to their end and the report is still written; the summary names the command that\n"
    "carries on. A second Ctrl-C stops at once.\n";

const char kExitScan[] = "\nExit status: 0 every camera answered, 1 some did not or the output was lost, 2 bad usage.\n";
const char kExitPlan[] =
    "\nExit status: 0 every camera has a plan or is up to date, 1 some have not or the output was lost,\n"
    "2 bad usage or an unreadable folder.\n";
const char kExitUpdate[] =
    "\nExit status: 0 every camera completed and shows the folder's versions, or was up to date, or had\n"
    "nothing to send; 1 some did not, the report could not be written, or the output was lost; 2 bad\n"
    "usage, an unreadable folder, a file to send that is unreadable, empty or refused by SHA256SUMS, a\n"
    "credentials file others can read, missing credentials, a camera or report another process is\n"
    "updating, a report that cannot be written, or a resume from a report the folder no longer matches.\n";
const char kExitRead[] =
    "\nExit status: 0 printed, 1 the output could not be written, 2 bad usage or a file that cannot be read.\n";

const char kScanColumns[] =
    "\nTable columns: CAM cam_cpu, NET network_cpu, SERVO servo_cpu, IF-CPU interface_cpu,\n"
    "FRONT front_fpga, BACK backend_fpga, LENS lens_fpga, CAM-EEP eeprom_cam, IF-EEP interface_eeprom.\n";

enum class FleetCommandKind { Scan, Plan, Update, Report, History };

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
    {FleetCommandKind::Report, "report", "FILE",
     "Prints the report file of an update: the run, then one row per camera. With --html a page\n"
     "for the customer, to save and print: the run, the count of each end, a timeline, and each\n"
     "camera's versions and files with their sizes and SHA-256."},
    {FleetCommandKind::History, "history", "[TARGET...]",
     "Prints what earlier updates sent to each camera, when, and how they ended (all cameras,\n"
     "or those of the targets given)."},
};

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

// What the program writes before any command runs, through the checked output.
void print(const QString& text)
{
    fleetout::write(text);
}

int usageError(const QString& why)
{
    QTextStream(stderr) << "kelvora-fleet: " << why << "\nTry kelvora-fleet --help.\n";
    return 2;
}

int failure(const QString& why)
{
    QTextStream(stderr) << "kelvora-fleet: " << why << '\n';
    return 2;
}

// Every option a command may take; each command adds those it has.
struct Options {
    QCommandLineOption json{QStringLiteral("json"), QStringLiteral("Write the result as JSON.")};
    QCommandLineOption csv{QStringLiteral("csv"), QStringLiteral("Write the result as CSV, for a spreadsheet.")};
    QCommandLineOption html{QStringLiteral("html"),
                            QStringLiteral("Write the report as one self-contained HTML page (no scripts, nothing "
                                           "fetched; prints on A4).")};
    QCommandLineOption parallel;
    QCommandLineOption exclude{QStringLiteral("exclude"),
                               QStringLiteral("Leave out these cameras (a target or range; may be repeated)."),
                               QStringLiteral("TARGET")};
    QCommandLineOption folder;
    QCommandLineOption all{QStringLiteral("all"), QStringLiteral("Send every component that has a file.")};
    QCommandLineOption only{QStringLiteral("only"), QStringLiteral("Send only these components (list-file keys)."),
                            QStringLiteral("KEY,...")};
    QCommandLineOption report{QStringLiteral("report"),
                              QStringLiteral("Keep the outcome per camera as JSON in FILE, rewritten whole as files are "
                                             "answered and cameras end."),
                              QStringLiteral("FILE")};
    QCommandLineOption logDir{QStringLiteral("log-dir"),
                              QStringLiteral("Write each camera's debug log, with UTC times, to DIR/ADDRESS.log."),
                              QStringLiteral("DIR")};
    QCommandLineOption yes{QStringLiteral("yes"), QStringLiteral("Do not ask before sending.")};
    QCommandLineOption credentials{QStringLiteral("credentials"),
                                   QStringLiteral("Cameras' own user IDs and passwords, from a private FILE (below)."),
                                   QStringLiteral("FILE")};
    QCommandLineOption resume{QStringLiteral("resume"),
                              QStringLiteral("Carry on from the report FILE of an interrupted update (below)."),
                              QStringLiteral("FILE")};
    QCommandLineOption canary{QStringLiteral("canary"),
                              QStringLiteral("Update the first N cameras with files to send first, alone; the rest only "
                                             "if they succeed."),
                              QStringLiteral("N")};
    QCommandLineOption maxFailures{QStringLiteral("max-failures"),
                                   QStringLiteral("Start no further camera once N cameras have failed."), QStringLiteral("N")};
    QCommandLineOption noHistory{QStringLiteral("no-history"), QStringLiteral("Do not add this update to the history.")};

    explicit Options(FleetCommandKind kind)
        : parallel(QStringLiteral("parallel"),
                   QStringLiteral("Cameras at work at once, 1 to %1 (default %2).")
                       .arg(kMaxParallel)
                       .arg(kind == FleetCommandKind::Scan ? kScanParallel : kUpdateParallel),
                   QStringLiteral("N"))
        , folder(QStringLiteral("folder"),
                 kind == FleetCommandKind::Update ? QStringLiteral("The firmware folder (required, unless --resume gives it).")
                                                  : QStringLiteral("The firmware folder (required)."),
                 QStringLiteral("DIR"))
    {
    }

    QList<QCommandLineOption> of(FleetCommandKind kind) const
    {
        switch (kind) {
        case FleetCommandKind::Scan: return {json, csv, parallel, exclude};
        case FleetCommandKind::Plan: return {folder, all, only, json, exclude};
        case FleetCommandKind::Update:
            return {folder, all, only, parallel, credentials, report, logDir, resume, canary, maxFailures, exclude, noHistory, yes};
        case FleetCommandKind::Report: return {csv, html};
        case FleetCommandKind::History: return {csv};
        }
        return {};
    }
};

// The command's own --help.
int printHelp(const CommandInfo& info, const QCommandLineParser& parser)
{
    QString text = parser.helpText();
    text = QStringLiteral("Usage: kelvora-fleet %1 [options] %2").arg(QLatin1String(info.name), QLatin1String(info.arguments))
        + text.mid(text.indexOf(QLatin1Char('\n')));
    if (info.kind != FleetCommandKind::Report)
        text += QLatin1String(kTargetsHelp);
    switch (info.kind) {
    case FleetCommandKind::Scan: text += QLatin1String(kScanColumns) + QLatin1String(kExitScan); break;
    case FleetCommandKind::Plan: text += QLatin1String(kPlanHelp) + QLatin1String(kExitPlan); break;
    case FleetCommandKind::Update:
        text += QLatin1String(kPlanHelp) + QLatin1String(kUpdateHelp) + QLatin1String(kExitUpdate);
        break;
    case FleetCommandKind::Report:
    case FleetCommandKind::History: text += QLatin1String(kExitRead); break;
    }
    print(text);
    return fleetout::finishPrinting(0);
}

// --all and --only; false with *why naming an unknown key.
bool choiceOf(const QCommandLineParser& parser, const Options& o, PlanChoice* choice, QString* why)
{
    choice->all = parser.isSet(o.all);
    return parseOnlyKeys(parser.values(o.only), &choice->only, why);
}

// Opens the folder named, or `fallback` when none is: 0, or the exit status of the refusal.
int openFolder(const QCommandLineParser& parser, const Options& o, const QString& fallback, const char* command,
               FirmwareFolder* folder)
{
    const QString dir = parser.isSet(o.folder) ? parser.value(o.folder) : fallback;
    if (dir.isEmpty())
        return usageError(QStringLiteral("%1 needs --folder DIR").arg(QLatin1String(command)));
    QString why;
    if (!folder->open(dir, &why))
        return failure(QStringLiteral("the firmware folder \"%1\" %2").arg(dir, why));
    return 0;
}

// More at once than the open-file limit allows would fail cameras for the tool's sake. The
// lowering is told when it was asked for (`asked`) or when it leaves cameras waiting.
int withinOpenFiles(int wanted, const char* what, bool asked, qsizetype cameras, qint64 held = 0)
{
    const qint64 openFiles = raiseOpenFileLimit();
    const int allowed = parallelWithin(wanted, openFiles, held);
    if (allowed < wanted && (asked || allowed < cameras))
        QTextStream(stderr) << "kelvora-fleet: " << what << " at once lowered from " << wanted << " to " << allowed
                            << ": the open-file limit is " << openFiles << '\n';
    return allowed;
}

int scanMain(const QCommandLineParser& parser, const Options& o)
{
    ScanCommand command;
    QString why;
    if (!camerasOf(parser.positionalArguments(), parser.values(o.exclude), &command.addresses, &why))
        return usageError(why);
    command.json = parser.isSet(o.json);
    command.csv = parser.isSet(o.csv);
    if (parser.isSet(o.parallel) && !countValue(parser, o.parallel, kMaxParallel, &command.inquiries))
        return usageError(QStringLiteral("--parallel takes a number from 1 to %1").arg(kMaxParallel));
    command.inquiries = withinOpenFiles(command.inquiries, "inquiries", parser.isSet(o.parallel), command.addresses.size());
    return runScan(command);
}

int planMain(const QCommandLineParser& parser, const Options& o)
{
    PlanCommand command;
    QString why;
    if (!camerasOf(parser.positionalArguments(), parser.values(o.exclude), &command.addresses, &why))
        return usageError(why);
    command.json = parser.isSet(o.json);
    command.inquiries = withinOpenFiles(command.inquiries, "inquiries", false, command.addresses.size());
    FirmwareFolder folder;
    if (const int refused = openFolder(parser, o, QString(), "plan", &folder))
        return refused;
    if (!choiceOf(parser, o, &command.choice, &why))
        return usageError(why);
    return runPlan(command, folder);
}

int updateMain(const QCommandLineParser& parser, const Options& o, const QProcessEnvironment& environment)
{
    UpdateCommand command;
    FleetUpdateSettings& settings = command.settings;
    settings.run.tool = QStringLiteral("kelvora-fleet");
    settings.run.version = QLatin1String(kFleetVersion);
    QString why;

    // The report an update resumes: its cameras come first, then those named here.
    QStringList targets = parser.positionalArguments();
    const bool resumed = parser.isSet(o.resume);
    const QString resumeFile = parser.value(o.resume);
    if (resumed) {
        FleetReport earlier;
        if (!readReport(resumeFile, &earlier, &why))
            return failure(QStringLiteral("the report \"%1\": %2").arg(resumeFile, why));
        if (earlier.run.folder.isEmpty())
            return failure(QStringLiteral("the report \"%1\" is not one of an update (it names no folder)").arg(resumeFile));
        QStringList fromReport;
        for (const CameraReport& r : earlier.cameras)
            fromReport << r.address;
        targets = fromReport + targets;
        settings.earlier = earlier;
    }
    if (!camerasOf(targets, parser.values(o.exclude), &settings.addresses, &why))
        return usageError(why);

    FirmwareFolder folder;
    if (const int refused = openFolder(parser, o, resumed ? settings.earlier->run.folder : QString(), "update", &folder))
        return refused;
    PlanChoice given;
    if (!choiceOf(parser, o, &given, &why))
        return usageError(why);
    const bool choiceGiven = parser.isSet(o.all) || parser.isSet(o.only);
    settings.choice = resumed && !choiceGiven ? settings.earlier->run.choice : given;
    // A resume judges the report's cameras by the folder they were updated from, or not at all.
    if (resumed) {
        const QStringList changes = resumeRefusals(*settings.earlier, folder, choiceGiven ? &given : nullptr);
        if (!changes.isEmpty())
            return failure(QStringLiteral("cannot resume from \"%1\": %2; nothing was sent (start a new update with "
                                          "--report instead)")
                               .arg(resumeFile, changes.join(QStringLiteral("; "))));
    }

    // Counts: as given, else the report's when resuming, else the defaults.
    const RunInfo* before = resumed ? &settings.earlier->run : nullptr;
    UpdateOptions& options = settings.options;
    options.parallel = before && before->parallel > 0 ? before->parallel : kUpdateParallel;
    options.canary = before ? before->canary : 0;
    options.maxFailures = before ? before->maxFailures : 0;
    if (parser.isSet(o.parallel) && !countValue(parser, o.parallel, kMaxParallel, &options.parallel))
        return usageError(QStringLiteral("--parallel takes a number from 1 to %1").arg(kMaxParallel));
    const int cameras = int(settings.addresses.size());
    if (parser.isSet(o.canary) && !countValue(parser, o.canary, cameras, &options.canary))
        return usageError(QStringLiteral("--canary takes a number from 1 to the number of cameras (%1)").arg(cameras));
    if (parser.isSet(o.maxFailures) && !countValue(parser, o.maxFailures, cameras, &options.maxFailures))
        return usageError(QStringLiteral("--max-failures takes a number from 1 to the number of cameras (%1)").arg(cameras));
    // Each camera's lock holds a descriptor for the whole update.
    options.parallel = withinOpenFiles(options.parallel, "runs", true, cameras, cameras + 1);
    settings.inquiries = withinOpenFiles(kScanParallel, "inquiries", false, cameras, cameras + 1);

    command.yes = parser.isSet(o.yes);
    settings.reportPath = parser.isSet(o.report) ? parser.value(o.report) : resumed ? resumeFile : QString();
    if (!settings.reportPath.isEmpty()) {
        const QFileInfo file(settings.reportPath);
        const QFileInfo dir(file.absolutePath());
        if (file.isDir() || !dir.isDir() || !dir.isWritable())
            return usageError(QStringLiteral("cannot write the report \"%1\"").arg(settings.reportPath));
    } else if (parser.isSet(o.report)) {
        return usageError(QStringLiteral("--report needs a file"));
    }
    options.logDir = parser.value(o.logDir);
    options.appendLogs = resumed;
    if (parser.isSet(o.logDir)) {
        const bool existed = QFileInfo(options.logDir).isDir();
        if (options.logDir.isEmpty() || (!existed && !QDir().mkpath(options.logDir)))
            return usageError(QStringLiteral("cannot write logs into \"%1\"").arg(options.logDir));
        // A folder made for the logs is the user's own, as the logs in it are (0600).
        if (!existed)
            QFile::setPermissions(options.logDir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        const QFileInfo dir(options.logDir);
        if (!dir.isDir() || !dir.isWritable())
            return usageError(QStringLiteral("cannot write logs into \"%1\"").arg(options.logDir));
    }
    if (parser.isSet(o.credentials) && !readCredentialsFile(parser.value(o.credentials), &command.credentialsFile, &why))
        return failure(why);
    // The credentials for all are asked only when a camera to be asked has no entry.
    const bool needed = needsCommonCredentials(settings.addresses, settings.earlier, command.credentialsFile);
    if (needed && !obtainCredentials(environment, &command.credentials, &why))
        return failure(why);
    if (!parser.isSet(o.noHistory)) {
        settings.historyPath = historyPath(environment);
        if (settings.historyPath.isEmpty())
            QTextStream(stderr) << "kelvora-fleet: neither XDG_STATE_HOME nor HOME is set: this update is not added to "
                                   "the history\n";
    }
    settings.lockFolder = updateLockFolder(environment);

    InterruptWatcher interrupts;
    return runUpdate(command, folder, interrupts);
}

int reportMain(const QCommandLineParser& parser, const Options& o)
{
    if (parser.positionalArguments().size() != 1)
        return usageError(QStringLiteral("report takes one FILE"));
    return printReport({parser.positionalArguments().constFirst(), parser.isSet(o.csv), parser.isSet(o.html)});
}

int historyMain(const QCommandLineParser& parser, const Options& o, const QProcessEnvironment& environment)
{
    HistoryCommand command;
    QString why;
    if (!parseTargetPatterns(parser.positionalArguments(), &command.targets, &why))
        return usageError(why);
    command.csv = parser.isSet(o.csv);
    command.path = historyPath(environment);
    if (command.path.isEmpty())
        return failure(QStringLiteral("neither XDG_STATE_HOME nor HOME says where the history is kept"));
    return printHistory(command);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kelvora-fleet"));
    QCoreApplication::setApplicationVersion(QLatin1String(kFleetVersion));
    previousHandler = qInstallMessageHandler(quietHandler);
    fleetout::install();

    const QStringList arguments = QCoreApplication::arguments();
    const QString first = arguments.value(1);
    if (first == u"--version" || first == u"-v") {
        print(QStringLiteral("kelvora-fleet %1\n").arg(QLatin1String(kFleetVersion)));
        return fleetout::finishPrinting(0);
    }
    if (first.isEmpty()) {
        QTextStream(stderr) << kOverview;
        return 2;
    }
    if (first == u"--help" || first == u"-h") {
        print(QLatin1String(kOverview));
        return fleetout::finishPrinting(0);
    }
    const CommandInfo* info = nullptr;
    for (const CommandInfo& c : kCommands) {
        if (first == QLatin1String(c.name))
            info = &c;
    }
    if (!info)
        return usageError(QStringLiteral("unknown command \"%1\"").arg(first));

    const Options o(info->kind);
    QCommandLineParser parser;
    parser.setApplicationDescription(QLatin1String(info->description));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    parser.addOptions(o.of(info->kind));
    if (info->kind == FleetCommandKind::Report)
        parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("A report written by update --report."));
    else
        parser.addPositionalArgument(QStringLiteral("TARGET"), QStringLiteral("A camera, a range or @FILE (below)."),
                                     QLatin1String(info->arguments));
    if (!parser.parse(QStringList{arguments.first()} + arguments.mid(2)))
        return usageError(parser.errorText());
    if (parser.isSet(help))
        return printHelp(*info, parser);
    if (parser.isSet(version)) {
        print(QStringLiteral("kelvora-fleet %1\n").arg(QLatin1String(kFleetVersion)));
        return fleetout::finishPrinting(0);
    }
    if (parser.optionNames().contains(QStringLiteral("json")) && parser.optionNames().contains(QStringLiteral("csv")))
        return usageError(QStringLiteral("--json and --csv cannot go together"));
    if (parser.optionNames().contains(QStringLiteral("html")) && parser.optionNames().contains(QStringLiteral("csv")))
        return usageError(QStringLiteral("--html and --csv cannot go together"));

    const QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    switch (info->kind) {
    case FleetCommandKind::Scan: return scanMain(parser, o);
    case FleetCommandKind::Plan: return planMain(parser, o);
    case FleetCommandKind::Update: return updateMain(parser, o, environment);
    case FleetCommandKind::Report: return reportMain(parser, o);
    case FleetCommandKind::History: return historyMain(parser, o, environment);
    }
    return 2;
}
