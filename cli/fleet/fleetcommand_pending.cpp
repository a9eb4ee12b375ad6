// Stands in for fleetdriver.cpp until the camera inquiry and update run objects it drives
// are built: the program checks its arguments, folder and credentials, then says that it
// cannot reach cameras yet.
#include "cli/fleet/fleetcommand.h"

#include <QTextStream>

#include <cstdio>

int runFleetCommand(const FleetCommand&, FirmwareFolder*, InterruptWatcher*)
{
    QTextStream err(stderr);
    err << "kelvora-fleet: this build cannot reach cameras yet (the camera inquiry and update run are not built in)\n";
    return 2;
}
