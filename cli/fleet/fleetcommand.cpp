// The commands carried out against the cameras: the engine's driver asks and updates
// them, this puts the steps, the questions and the output together.
#include "cli/fleet/fleetcommand.h"

#include "cli/fleet/fleetoutput.h"
#include "cli/fleet/interruptwatcher.h"
#include "cli/fleet/progressview.h"
#include "fleet/fleetdriver.h"
#include "launch/credentials.h"

#include <QEventLoop>
#include <QTextStream>

#include <unistd.h>

#include <algorithm>
#include <functional>

namespace {

bool allOk(const std::vector<ScanResult>& scans)
{
    return std::all_of(scans.begin(), scans.end(), [](const ScanResult& s) { return s.ok; });
}

} // namespace

int runFleetCommand(const FleetCommand& command, FirmwareFolder* folder, InterruptWatcher* interrupts)
{
    QTextStream out(stdout);
    QTextStream err(stderr);
    FleetDriver driver;
    QEventLoop loop;
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

    // Every camera asked, a count on the terminal meanwhile.
    const bool countOnTerminal = ::isatty(STDERR_FILENO) == 1;
    QObject::connect(&driver, &FleetDriver::inquiryAnswered, &driver, [&](int answered, int total) {
        if (countOnTerminal) {
            err << "\r\x1b[Kasked " << answered << " of " << total << " cameras";
            err.flush();
        }
    });
    QObject::connect(&driver, &FleetDriver::inquiriesDone, &loop, &QEventLoop::quit);
    driver.inquire(command.addresses, command.inquiries);
    if (!driver.inquiriesFinished())
        loop.exec();
    if (countOnTerminal) {
        err << "\r\x1b[K";
        err.flush();
    }
    const std::vector<ScanResult>& scans = driver.scans();

    if (command.kind == FleetCommandKind::Scan) {
        out << (command.json ? QString::fromUtf8(scanJson(scans)) : scanTable(scans));
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
    const auto planned = std::count_if(entries.begin(), entries.end(),
                                       [](const PlanEntry& e) { return e.scan.ok && e.plan.valid; });
    if (command.kind == FleetCommandKind::Plan) {
        out << (command.json ? QString::fromUtf8(planJson(entries)) : planTable(entries));
        return planned == qsizetype(entries.size()) ? 0 : 1;
    }

    out << planTable(entries) << '\n';
    out.flush();
    bool go = !driver.stopping();
    if (go && planned > 0 && !command.yes) {
        Terminal terminal;
        if (terminal.isOpen()) {
            go = terminal.confirm(QStringLiteral("Update %1 camera%2?").arg(planned).arg(planned == 1 ? QString() : QStringLiteral("s")),
                                  [] { return InterruptWatcher::pressesSoFar() > 0; });
        }
    }
    if (!go) {
        out << "Nothing sent.\n";
        driver.stopStarting();
    }

    const QString credential = basicCredential(command.credentials.user, command.credentials.password);
    ProgressView view = ProgressView::forDescriptor(STDOUT_FILENO);
    int width = 0;
    for (const QString& address : command.addresses)
        width = qMax(width, int(address.size()));
    view.setAddressWidth(width);
    QObject::connect(&driver, &FleetDriver::statusChanged, &driver, [&](const CameraStatus& s) { view.update(s); });
    if (view.terminal())
        notice = [&view](const QString& text) { view.print(text); };
    QObject::connect(&driver, &FleetDriver::updatesDone, &loop, &QEventLoop::quit);
    driver.update(entries, command.runs, credential,
                  {command.credentials.user, command.credentials.password, credential}, command.logDir);
    if (!driver.updatesFinished())
        loop.exec();
    view.finish();
    notice = [&err](const QString& text) { err << text << '\n'; };

    const std::vector<CameraReport>& reports = driver.reports();
    out << '\n' << summaryTable(reports);
    out.flush();
    bool reported = true;
    if (!command.reportPath.isEmpty()) {
        QString error;
        reported = writeReport(command.reportPath, reports, &error);
        if (!reported)
            err << "kelvora-fleet: cannot write the report \"" << command.reportPath << "\": " << error << '\n';
    }
    const bool allWell = std::all_of(reports.begin(), reports.end(), reportWell);
    return allWell && reported ? 0 : 1;
}
