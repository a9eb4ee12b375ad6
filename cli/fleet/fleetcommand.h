#ifndef KELVORA_FLEET_FLEETCOMMAND_H
#define KELVORA_FLEET_FLEETCOMMAND_H

// A command of kelvora-fleet once its arguments, folder and credentials have been
// checked, and the function that carries it out against the cameras.

#include "cli/fleet/terminalprompt.h"
#include "fleet/credentialsfile.h"
#include "fleet/fleetplan.h"
#include "fleet/fleetreport.h"
#include "fleet/targetmatch.h"
#include "kelvora/version.h"

#include <QString>
#include <QStringList>

#include <vector>

// The project's version, as every program gives it.
inline constexpr char kFleetVersion[] = KELVORA_VERSION;

// Inquiries at once (scan, and the start of plan and update): as many as a site's silent
// addresses could hold for an inquiry's whole bound, so they cost one bound, not several.
inline constexpr int kScanParallel = 512;
inline constexpr int kUpdateParallel = 8;   // update runs at once
inline constexpr int kMaxParallel = 4096;

class InterruptWatcher;

enum class FleetCommandKind { Scan, Plan, Update, Report, History };

struct FleetCommand {
    FleetCommandKind kind = FleetCommandKind::Scan;
    QStringList addresses;   // normal form, each camera once, exclusions left out
    bool json = false;
    bool csv = false;
    int inquiries = kScanParallel;   // inquiries at once
    int runs = kUpdateParallel;      // update runs at once
    PlanChoice choice;
    QString reportPath;      // update: empty for none; report: the file to print
    QString logDir;          // update: empty for none; exists and is writable
    bool yes = false;        // update: no question before sending
    int canary = 0;          // update: cameras updated first, alone
    int maxFailures = 0;     // update: no camera starts once this many have failed
    QString historyPath;     // update: where the report is appended (empty: not kept); history: read
    QList<TargetPattern> historyTargets;  // history: the cameras asked about (none: all)
    CredentialsFile credentialsFile;      // update: entries by camera (none without --credentials)
    Credentials credentials; // update: for cameras without an entry (empty when none needs them)
    bool resumed = false;    // update: carries on from `previous`
    FleetReport previous;    // update --resume: the report it carries on from
};

// Carries out the command: inquiries, plans, runs, output. `folder` is open for plan and
// update (null otherwise). Ctrl-C arrives through `interrupts`. Returns the exit status.
int runFleetCommand(FleetCommand& command, FirmwareFolder* folder, InterruptWatcher* interrupts);

#endif
