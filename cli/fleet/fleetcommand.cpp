// The commands carried out against the cameras: the engine's driver asks and updates
// them, this puts the steps, the questions and the output together.
#include "cli/fleet/fleetcommand.h"

#include "cli/fleet/fleetoutput.h"
#include "cli/fleet/interruptwatcher.h"
#include "cli/fleet/progressview.h"
#include "common/writeall.h"
#include "fleet/fleetdriver.h"
#include "fleet/fleetpolicy.h"
#include "fleet/history.h"
#include "fleet/reportjournal.h"
#include "launch/credentials.h"

#include <QEventLoop>
#include <QHash>
#include <QTextStream>

#include <unistd.h>

#include <algorithm>
#include <functional>

namespace {

bool allOk(const std::vector<ScanResult>& scans)
{
    return std::all_of(scans.begin(), scans.end(), [](const ScanResult& s) { return s.ok; });
}

QString plural(qsizetype n, const char* one, const char* many)
{
    return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? one : many));
}

// The cameras an update leaves alone, from the report it resumes: by address.
QHash<QString, CameraReport> carriedOver(const FleetCommand& command)
{
    QHash<QString, CameraReport> kept;
    if (!command.resumed)
        return kept;
    for (const CameraReport& r : command.previous.cameras) {
        if (resumeSkips(r) && command.addresses.contains(r.address))
            kept.insert(r.address, r);
    }
    return kept;
}

int printReport(const FleetCommand& command)
{
    QTextStream out(stdout);
    QTextStream err(stderr);
    FleetReport report;
    QString error;
    if (!readReport(command.reportPath, &report, &error)) {
        err << "kelvora-fleet: the report \"" << command.reportPath << "\" " << error << '\n';
        return 2;
    }
    if (command.csv) {
        out.flush();
        const QByteArray bytes = reportCsvHeader() + reportCsvRows(report);
        kelvora::writeAll(STDOUT_FILENO, bytes);
        return 0;
    }
    out << runHeader(report.run) << '\n' << summaryTable(report.cameras);
    return 0;
}

int printHistory(const FleetCommand& command)
{
    QTextStream out(stdout);
    QTextStream err(stderr);
    History history;
    QString error;
    if (!readHistory(command.historyPath, &history, &error)) {
        err << "kelvora-fleet: the history \"" << command.historyPath << "\" " << error << '\n';
        return 2;
    }
    for (const QString& skipped : std::as_const(history.skipped))
        err << "kelvora-fleet: " << command.historyPath << ": " << skipped << ", skipped\n";
    // Only the cameras asked about, every update that touched them.
    for (FleetReport& report : history.reports) {
        if (command.historyTargets.isEmpty())
            continue;
        std::vector<CameraReport> kept;
        for (const CameraReport& r : report.cameras) {
            if (std::any_of(command.historyTargets.begin(), command.historyTargets.end(),
                            [&](const TargetPattern& p) { return p.matches(r.address); }))
                kept.push_back(r);
        }
        report.cameras = kept;
    }
    err.flush();
    if (command.csv) {
        out.flush();
        QByteArray bytes = reportCsvHeader();
        for (const FleetReport& report : history.reports)
            bytes += reportCsvRows(report);
        kelvora::writeAll(STDOUT_FILENO, bytes);
        return 0;
    }
    out << historyTable(history.reports);
    return 0;
}

} // namespace

int runFleetCommand(FleetCommand& command, FirmwareFolder* folder, InterruptWatcher* interrupts)
{
    if (command.kind == FleetCommandKind::Report)
        return printReport(command);
    if (command.kind == FleetCommandKind::History)
        return printHistory(command);

    QTextStream out(stdout);
    QTextStream err(stderr);
    FleetDriver driver;
    QEventLoop loop;
    const bool update = command.kind == FleetCommandKind::Update;
    // Notes for the operator: on the standard error, or above the live lines once they show.
    std::function<void(const QString&)> notice = [&err](const QString& text) {
        err << '\n' << text << '\n';
        err.flush();
    };
    QObject::connect(interrupts, &InterruptWatcher::stopStarting, &driver, [&] {
        driver.stopStarting();
        notice(QStringLiteral("kelvora-fleet: stopping: no camera starts and no file is sent any more; cameras that "
                              "hold a file are followed to their end. Ctrl-C again stops at once."));
    });
    QObject::connect(interrupts, &InterruptWatcher::stopNow, &driver, &FleetDriver::stopNow);

    // The report as it stands at any moment: the cameras a resumed update leaves alone as
    // they were, the others as the driver has them (pending until asked and planned).
    RunInfo run;
    run.tool = QStringLiteral("kelvora-fleet");
    run.version = QLatin1String(kFleetVersion);
    run.folder = folder ? folder->path() : QString();
    run.choice = command.choice;
    run.choice.skipCurrent = false;
    run.started = QDateTime::currentDateTimeUtc();
    const QHash<QString, CameraReport> kept = carriedOver(command);
    QStringList asked;
    for (const QString& address : std::as_const(command.addresses)) {
        if (!kept.contains(address))
            asked << address;
    }
    bool updating = false;
    const auto currentReport = [&] {
        FleetReport report;
        report.run = run;
        int k = 0;
        for (const QString& address : std::as_const(command.addresses)) {
            if (kept.contains(address)) {
                report.cameras.push_back(kept.value(address));
                continue;
            }
            CameraReport pending;
            pending.address = address;
            report.cameras.push_back(updating ? driver.reports()[std::size_t(k)] : pending);
            ++k;
        }
        return report;
    };
    std::unique_ptr<ReportJournal> journal;
    if (update && !command.reportPath.isEmpty()) {
        journal = std::make_unique<ReportJournal>(command.reportPath, currentReport);
        QString error;
        if (!journal->writeNow(&error)) {
            err << "kelvora-fleet: cannot write the report \"" << command.reportPath << "\": " << error << '\n';
            return 2;
        }
        QObject::connect(journal.get(), &ReportJournal::writeFailed, &driver, [&](const QString& error) {
            notice(QStringLiteral("kelvora-fleet: cannot write the report \"%1\": %2; the update goes on")
                       .arg(command.reportPath, error));
        });
    }
    if (!kept.isEmpty())
        err << "kelvora-fleet: resuming: " << plural(kept.size(), "camera", "cameras")
            << " done before are left alone, " << plural(asked.size(), "camera is", "cameras are") << " asked afresh\n";

    // Every camera asked, a count on the terminal meanwhile.
    const bool countOnTerminal = ::isatty(STDERR_FILENO) == 1;
    QObject::connect(&driver, &FleetDriver::inquiryAnswered, &driver, [&](int answered, int total) {
        if (countOnTerminal) {
            err << "\r\x1b[Kasked " << answered << " of " << total << " cameras";
            err.flush();
        }
    });
    QObject::connect(&driver, &FleetDriver::inquiriesDone, &loop, &QEventLoop::quit);
    driver.inquire(asked, command.inquiries);
    if (!driver.inquiriesFinished())
        loop.exec();
    if (countOnTerminal) {
        err << "\r\x1b[K";
        err.flush();
    }
    const std::vector<ScanResult>& scans = driver.scans();

    if (command.kind == FleetCommandKind::Scan) {
        if (command.csv) {
            out.flush();
            kelvora::writeAll(STDOUT_FILENO, scanCsv(scans));
        } else {
            out << (command.json ? QString::fromUtf8(scanJson(scans)) : scanTable(scans));
        }
        return allOk(scans) ? 0 : 1;
    }

    std::vector<PlanEntry> entries;
    for (const ScanResult& scan : scans) {
        PlanEntry entry;
        entry.scan = scan;
        if (scan.ok)
            entry.plan = planCamera(*folder, scan.camera, command.choice);
        entries.push_back(entry);
    }
    if (command.kind == FleetCommandKind::Plan) {
        out << (command.json ? QString::fromUtf8(planJson(entries)) : planTable(entries));
        return planExitStatus(entries);
    }

    // A file SHA256SUMS does not vouch for goes to no camera: nothing starts.
    QStringList refused;
    for (const PlanEntry& entry : entries) {
        if (entry.scan.ok && entry.plan.end == FleetEnd::SumRefused && !refused.contains(entry.plan.reason))
            refused << entry.plan.reason;
    }
    if (!refused.isEmpty()) {
        out << planTable(entries) << '\n';
        out.flush();
        for (const QString& why : std::as_const(refused))
            err << "kelvora-fleet: " << why << '\n';
        err << "kelvora-fleet: nothing was sent; the folder's SHA256SUMS must vouch for every file to send\n";
        return 2;
    }

    // Each camera's credentials: its entry in the file, else the ones given for all.
    std::vector<QString> credentials;
    const QString common = command.credentials.complete()
        ? basicCredential(command.credentials.user, command.credentials.password)
        : QString();
    for (PlanEntry& entry : entries) {
        if (!entry.scan.ok || !entry.plan.valid) {
            credentials.emplace_back();
            continue;
        }
        if (const CredentialEntry* e = command.credentialsFile.find(entry.scan.address)) {
            entry.credentialSource = QStringLiteral("file line %1").arg(e->line);
            credentials.push_back(basicCredential(e->user, e->password));
        } else {
            entry.credentialSource = command.credentials.source;
            credentials.push_back(common);
        }
    }
    const auto planned = std::count_if(entries.begin(), entries.end(),
                                       [](const PlanEntry& e) { return e.scan.ok && e.plan.valid; });

    out << planTable(entries) << '\n';
    out.flush();
    bool go = !driver.stopping();
    if (go && planned > 0 && !command.yes) {
        Terminal terminal;
        if (terminal.isOpen()) {
            go = terminal.confirm(QStringLiteral("Update %1?").arg(plural(planned, "camera", "cameras")),
                                  [] { return InterruptWatcher::pressesSoFar() > 0; });
        }
    }
    if (!go) {
        out << "Nothing sent.\n";
        driver.stopStarting();
    }

    ProgressView view = ProgressView::forDescriptor(STDOUT_FILENO);
    int width = 0;
    for (const QString& address : std::as_const(command.addresses))
        width = qMax(width, int(address.size()));
    view.setAddressWidth(width);
    QObject::connect(&driver, &FleetDriver::statusChanged, &driver, [&](const CameraStatus& s) { view.update(s); });
    if (view.terminal())
        notice = [&view](const QString& text) { view.print(text); };
    QObject::connect(&driver, &FleetDriver::cameraEnded, &driver, [&] {
        if (journal)
            journal->schedule();
    });
    QObject::connect(&driver, &FleetDriver::canaryDone, &driver, [&](bool passed) {
        notice(passed ? QStringLiteral("kelvora-fleet: the canary passed; the other cameras start")
                      : QStringLiteral("kelvora-fleet: the canary did not pass; no other camera starts"));
    });
    QObject::connect(&driver, &FleetDriver::budgetSpent, &driver, [&](int failures) {
        notice(QStringLiteral("kelvora-fleet: %1 failed; no further camera starts")
                   .arg(plural(failures, "camera has", "cameras have")));
    });
    QObject::connect(&driver, &FleetDriver::updatesDone, &loop, &QEventLoop::quit);

    UpdateOptions options;
    options.parallel = command.runs;
    options.canary = command.canary;
    options.maxFailures = command.maxFailures;
    options.logDir = command.logDir;
    options.secrets = command.credentialsFile.secrets();
    if (!common.isEmpty())
        options.secrets << command.credentials.password << common;
    updating = true;
    driver.setFirmwareFiles(folder->files());
    driver.update(entries, credentials, options);
    if (!driver.updatesFinished())
        loop.exec();
    view.finish();
    notice = [&err](const QString& text) { err << text << '\n'; };

    run.ended = QDateTime::currentDateTimeUtc();
    const FleetReport report = currentReport();
    out << '\n' << summaryTable(report.cameras);
    out.flush();
    bool reported = true;
    if (journal) {
        QString error;
        reported = journal->writeNow(&error);
        if (!reported)
            err << "kelvora-fleet: cannot write the report \"" << command.reportPath << "\": " << error << '\n';
    }
    if (!command.historyPath.isEmpty()) {
        QString error;
        if (!appendHistory(command.historyPath, report, &error))
            err << "kelvora-fleet: cannot add the update to the history \"" << command.historyPath << "\": " << error
                << " (--no-history leaves it out)\n";
    }
    return updateExitStatus(report.cameras) == 0 && reported ? 0 : 1;
}
