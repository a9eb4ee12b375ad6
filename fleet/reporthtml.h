#ifndef KELVORA_FLEET_REPORTHTML_H
#define KELVORA_FLEET_REPORTHTML_H

// A many-camera update's report as one page for the customer: the run (tool, folder, its
// SHA256SUMS, times), how many cameras ended which way, a timeline of every camera's
// uploads, restart waits and verification, and one row per camera with its versions before
// and after and each file it was sent (size, SHA-256, upload time). The page stands alone:
// its style and drawing are inline, it runs no script and fetches nothing, it prints on A4,
// and it is well-formed XML as well as HTML, so any reader can take it apart. Everything a
// camera, a folder or a report file supplied is escaped, its control characters shown as
// displaySafe shows them. Widget-free: `kelvora-fleet report --html` and the many-camera
// window's saved report both write it.

#include "fleet/fleetreport.h"

#include <QByteArray>

// The page, UTF-8.
QByteArray reportHtml(const FleetReport& report);

#endif
