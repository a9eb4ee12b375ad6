// The commands carried out against the cameras: the engine asks, plans and updates them,
// this puts the steps, the questions and the output together.
#include "cli/fleet/fleetcommand.h"

#include "cli/fleet/fleetoutput.h"
#include "cli/fleet/interruptwatcher.h"
#include "cli/fleet/progressview.h"
#include "cli/fleet/standardoutput.h"
#include "common/displaytext.h"
#include "fleet/fleetdriver.h"
#include "fleet/fleetpolicy.h"
#include "fleet/history.h"
#include "fleet/reporthtml.h"

#include <QEventLoop>
#include <QTextStream>

#include <unistd.h>

#include <algorithm>
#include <functional>

namespace {

QString plural(qsizetype n, const char* one, const char* many)
{
    return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? one : many));
}

// Notes for the operator on the standard error; never the command's result. They quote
// reports, file names and cameras' answers: made safe for the terminal first.
void note(const QString& text)
{
    QTextStream err(stderr);
    err << "kelvora-fleet: " << displaySafe(text) << '\n';
}

// "asked 12 of 1022 cameras" on the terminal while the answers come in.
class AskedCount
{
public:
    explicit AskedCount(FleetDriver& driver)
        : m_terminal(::isatty(STDERR_FILENO) == 1)
    {
        QObject::connect(&driver, &FleetDriver::inquiryAnswered, &driver, [this](int answered, int total) {
            if (m_terminal) {
                m_err << "\r\x1b[Kasked " << answered << " of " << total << " cameras";
                m_err.flush();
            }
        });
    }
    ~AskedCount()
    {
        if (m_terminal) {
            m_err << "\r\x1b[K";
            m_err.flush();
        }
    }

private:
    bool m_terminal;
    QTextStream m_err{stderr};
};

// Every answer in, the count shown meanwhile.
void waitForAnswers(FleetDriver& driver)
{
    if (driver.inquiriesFinished())
        return;
    QEventLoop loop;
    QObject::connect(&driver, &FleetDriver::inquiriesDone, &loop, &QEventLoop::quit);
    loop.exec();
}

std::vector<ScanResult> askAll(const QStringList& addresses, int parallel)
{
    FleetDriver driver;
    {
        const AskedCount count(driver);
        driver.inquire(addresses, parallel);
        waitForAnswers(driver);
    }
    return driver.scans();
}

bool allOk(const std::vector<ScanResult>& scans)
{
    return std::all_of(scans.begin(), scans.end(), [](const ScanResult& s) { return s.ok; });
}

// The cameras that went first, and what came of them, for the summary.
QString canaryLine(const std::vector<CameraReport>& cameras)
{
    QStringList canary;
    bool passed = true;
    for (const CameraReport& c : cameras) {
        if (c.canary) {
            canary << c.address;
            passed = passed && canaryPassed(c);
        }
    }
    if (canary.isEmpty())
        return {};
    return QStringLiteral("The canary: %1 (%2).\n")
        .arg(canary.join(QStringLiteral(", ")), passed ? QStringLiteral("passed") : QStringLiteral("did not pass"));
}

} // namespace

int runScan(const ScanCommand& command)
{
    const std::vector<ScanResult> scans = askAll(command.addresses, command.inquiries);
    fleetout::write(command.csv ? scanCsv(scans) : command.json ? scanJson(scans) : scanTable(scans).toUtf8());
    return fleetout::finishPrinting(allOk(scans) ? 0 : 1);
}

int runPlan(const PlanCommand& command, FirmwareFolder& folder)
{
    std::vector<PlanEntry> entries;
    for (const ScanResult& scan : askAll(command.addresses, command.inquiries)) {
        PlanEntry entry;
        entry.scan = scan;
        if (scan.ok)
            entry.plan = planCamera(folder, scan.camera, command.choice);
        entries.push_back(entry);
    }
    fleetout::write(command.json ? planJson(entries) : planTable(entries).toUtf8());
    return fleetout::finishPrinting(planExitStatus(entries));
}

int runUpdate(UpdateCommand& command, FirmwareFolder& folder, InterruptWatcher& interrupts)
{
    command.settings.options.secrets = secretsOf(command.credentialsFile, command.credentials);
    FleetUpdate update(command.settings, &folder);
    FleetDriver& driver = update.driver();
    const QString reportPath = command.settings.reportPath;

    // Nothing is asked of a camera another process is updating, nor written over its report.
    QString why;
    if (!update.lock(&why)) {
        note(why + QStringLiteral("; nothing was sent"));
        return 2;
    }
    if (!update.begin(&why)) {
        note(QStringLiteral("cannot write the report \"%1\": %2").arg(reportPath, why));
        return 2;
    }
    if (update.carriedOver() > 0)
        note(QStringLiteral("resuming: %1 done before %2 left alone, %3 asked afresh")
                 .arg(plural(update.carriedOver(), "camera", "cameras"),
                      QLatin1String(update.carriedOver() == 1 ? "is" : "are"),
                      plural(update.asked().size(), "camera is", "cameras are")));

    // Notes for the operator: on the standard error, or above the live lines once they show.
    std::function<void(const QString&)> notice = [](const QString& text) {
        QTextStream err(stderr);
        err << '\n' << text << '\n';
    };
    QObject::connect(&interrupts, &InterruptWatcher::stopStarting, &driver, [&] {
        driver.stopStarting();
        notice(QStringLiteral("kelvora-fleet: stopping: no camera starts and no file is sent any more; cameras that "
                              "hold a file are followed to their end. Ctrl-C again stops at once."));
    });
    QObject::connect(&interrupts, &InterruptWatcher::stopNow, &driver, &FleetDriver::stopNow);
    QObject::connect(&update, &FleetUpdate::recordFailed, &driver, [&](const QString& error) {
        notice(QStringLiteral("kelvora-fleet: cannot write the report \"%1\": %2; no further camera starts")
                   .arg(reportPath, error));
    });

    {
        const AskedCount count(driver);
        update.ask();
        waitForAnswers(driver);
    }
    const std::vector<PlanEntry>& entries = update.plan();

    // A file no camera may be sent goes to none: nothing starts.
    const QStringList refused = update.folderRefusals();
    if (!refused.isEmpty()) {
        fleetout::write(planTable(entries) + QLatin1Char('\n'));
        for (const QString& reason : refused)
            note(reason);
        note(QStringLiteral("nothing was sent; every file to send must be readable, not empty, and vouched for by the "
                            "folder's SHA256SUMS when it has one"));
        return 2;
    }

    const std::vector<CameraCredential> credentials = credentialsFor(entries, command.credentialsFile, command.credentials);
    fleetout::write(planTable(entries) + QLatin1Char('\n'));
    bool go = !driver.stopping();
    if (go && update.runs() > 0 && !command.yes) {
        Terminal terminal;
        if (terminal.isOpen()) {
            go = terminal.confirm(QStringLiteral("Update %1?").arg(plural(update.runs(), "camera", "cameras")),
                                  [] { return InterruptWatcher::pressesSoFar() > 0; });
        }
    }
    if (!go) {
        fleetout::write(QStringLiteral("Nothing sent.\n"));
        update.cancel();
    }

    ProgressView view = ProgressView::forDescriptor(STDOUT_FILENO, [](const QByteArray& bytes) { fleetout::write(bytes); });
    int width = 0;
    for (const QString& address : std::as_const(command.settings.addresses))
        width = qMax(width, int(address.size()));
    view.setAddressWidth(width);
    QObject::connect(&driver, &FleetDriver::statusChanged, &driver, [&](const CameraStatus& s) { view.update(s); });
    if (view.terminal())
        notice = [&view](const QString& text) { view.print(text); };
    QObject::connect(&driver, &FleetDriver::canaryDone, &driver, [&](bool passed) {
        notice(passed ? QStringLiteral("kelvora-fleet: the canary passed; the other cameras start")
                      : QStringLiteral("kelvora-fleet: the canary did not pass; no other camera starts"));
    });
    QObject::connect(&driver, &FleetDriver::budgetSpent, &driver, [&](int failures) {
        notice(QStringLiteral("kelvora-fleet: %1 failed; no further camera starts")
                   .arg(plural(failures, "camera has", "cameras have")));
    });

    QEventLoop loop;
    QObject::connect(&update, &FleetUpdate::finished, &loop, &QEventLoop::quit);
    update.start(credentials);
    if (!driver.updatesFinished())
        loop.exec();
    view.finish();

    const UpdateRecord::Outcome outcome = update.finish();
    const FleetReport report = update.report();
    fleetout::write(QLatin1Char('\n') + summaryTable(report.cameras) + canaryLine(report.cameras));
    if (driver.stopping() && update.runs() > 0 && go) {
        fleetout::write(reportPath.isEmpty()
                            ? QStringLiteral("Stopped. No report was kept (--report FILE keeps one), so nothing can "
                                             "carry on from this update.\n")
                            : QStringLiteral("Stopped. Carry on with: kelvora-fleet update --resume %1\n").arg(reportPath));
    }
    if (!outcome.reportWritten)
        note(QStringLiteral("cannot write the report \"%1\": %2").arg(reportPath, outcome.reportError));
    if (!outcome.historyWritten)
        note(QStringLiteral("cannot add the update to the history \"%1\": %2 (--no-history leaves it out)")
                 .arg(command.settings.historyPath, outcome.historyError));
    return fleetout::finishWorking(updateExitStatus(report.cameras) == 0 && outcome.reportWritten ? 0 : 1);
}

int printReport(const ReportCommand& command)
{
    FleetReport report;
    QString error;
    if (!readReport(command.path, &report, &error)) {
        note(QStringLiteral("the report \"%1\": %2").arg(command.path, error));
        return 2;
    }
    fleetout::write(command.html  ? reportHtml(report)
                    : command.csv ? reportCsvHeader() + reportCsvRows(report)
                                  : (runHeader(report.run) + QLatin1Char('\n') + summaryTable(report.cameras)).toUtf8());
    return fleetout::finishPrinting(0);
}

int printHistory(const HistoryCommand& command)
{
    History history;
    QString error;
    if (!readHistory(command.path, &history, &error)) {
        note(QStringLiteral("the history \"%1\": %2").arg(command.path, error));
        return 2;
    }
    for (const QString& skipped : std::as_const(history.skipped))
        note(QStringLiteral("%1: %2, skipped").arg(command.path, skipped));
    // Only the cameras asked about, every update that touched them.
    for (FleetReport& report : history.reports) {
        if (command.targets.isEmpty())
            continue;
        std::vector<CameraReport> kept;
        for (const CameraReport& r : report.cameras) {
            if (std::any_of(command.targets.begin(), command.targets.end(),
                            [&](const TargetPattern& p) { return p.matches(r.address); }))
                kept.push_back(r);
        }
        report.cameras = kept;
    }
    if (command.csv) {
        QByteArray bytes = reportCsvHeader();
        for (const FleetReport& report : history.reports)
            bytes += reportCsvRows(report);
        fleetout::write(bytes);
    } else {
        fleetout::write(historyTable(history.reports));
    }
    return fleetout::finishPrinting(0);
}
