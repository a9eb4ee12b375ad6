#ifndef KELVORA_FLEET_FLEETCOMMAND_H
#define KELVORA_FLEET_FLEETCOMMAND_H

// A command of kelvora-fleet once its arguments, folder and credentials have been
// checked, and the function that carries it out against the cameras.

#include "fleet/fleetplan.h"
#include "cli/fleet/terminalprompt.h"
#include "kelvora/version.h"

#include <QString>
#include <QStringList>

// The project's version, as every program gives it.
inline constexpr char kFleetVersion[] = KELVORA_VERSION;

inline constexpr int kScanParallel = 32;    // inquiries at once (scan, and the start of plan and update)
inline constexpr int kUpdateParallel = 8;   // update runs at once
inline constexpr int kMaxParallel = 256;

class InterruptWatcher;

enum class FleetCommandKind { Scan, Plan, Update };

struct FleetCommand {
    FleetCommandKind kind = FleetCommandKind::Scan;
    QStringList addresses;   // normal form, each camera once
    bool json = false;
    int inquiries = kScanParallel;   // inquiries at once
    int runs = kUpdateParallel;      // update runs at once
    PlanChoice choice;
    QString reportPath;      // update: empty for none
    QString logDir;          // update: empty for none; exists and is writable
    bool yes = false;        // update: no question before sending
    Credentials credentials; // update: complete
};

// Carries out the command: inquiries, plans, runs, output. `folder` is open for plan and
// update (null for scan). Ctrl-C arrives through `interrupts`. Returns the exit status.
int runFleetCommand(const FleetCommand& command, FirmwareFolder* folder, InterruptWatcher* interrupts);

#endif
