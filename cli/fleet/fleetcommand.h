#ifndef KELVORA_FLEET_FLEETCOMMAND_H
#define KELVORA_FLEET_FLEETCOMMAND_H

// The commands of kelvora-fleet, each a function over a plain record of what its arguments,
// folder and credentials came to once checked (cli/fleet/fleet_main.cpp checks them). Each
// asks the cameras through the engine (fleet/), puts the questions and the output together
// and returns the exit status: 0 all done, 1 something failed (output that could not be
// written among it), 2 refused before anything was sent.

#include "cli/fleet/terminalprompt.h"
#include "fleet/credentialsfile.h"
#include "fleet/fleetplan.h"
#include "fleet/fleetupdate.h"
#include "fleet/targetmatch.h"
#include "fleet/updatesetup.h"
#include "kelvora/version.h"

#include <QList>
#include <QString>
#include <QStringList>

// The project's version, as every program gives it.
inline constexpr char kFleetVersion[] = KELVORA_VERSION;

class InterruptWatcher;

struct ScanCommand {
    QStringList addresses;   // normal form, each camera once, exclusions left out
    bool json = false;
    bool csv = false;
    int inquiries = kScanParallel;
};

struct PlanCommand {
    QStringList addresses;
    bool json = false;
    PlanChoice choice;
    int inquiries = kScanParallel;
};

struct UpdateCommand {
    FleetUpdateSettings settings;          // cameras, choice, runs, report, history, locks, resume
    CredentialsFile credentialsFile;       // entries by camera (none without --credentials)
    Credentials credentials;               // for cameras without an entry (empty when none needs them)
    bool yes = false;                      // no question before sending
};

struct ReportCommand {
    QString path;
    bool csv = false;
    bool html = false;  // the page for a customer (fleet/reporthtml.h)
};

struct HistoryCommand {
    QString path;
    QList<TargetPattern> targets;  // the cameras asked about (none: all)
    bool csv = false;
};

int runScan(const ScanCommand& command);
int runPlan(const PlanCommand& command, FirmwareFolder& folder);
// Ctrl-C arrives through `interrupts`.
int runUpdate(UpdateCommand& command, FirmwareFolder& folder, InterruptWatcher& interrupts);
int printReport(const ReportCommand& command);
int printHistory(const HistoryCommand& command);

#endif
