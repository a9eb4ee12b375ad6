#ifndef KELVORA_FLEET_HISTORY_H
#define KELVORA_FLEET_HISTORY_H

// The update history: every `kelvora-fleet update` appends its report, one JSON line, to a
// file of the user's ($XDG_STATE_HOME/kelvora/history.jsonl, by default
// ~/.local/state/kelvora/history.jsonl), and `kelvora-fleet history` reads it back: per
// camera what was sent, when, and how it ended. Appends from updates running side by side
// are kept whole (one write under an exclusive lock), and an append that fails (a full file
// system) is taken back, so every record is one whole line. A line that cannot be read, or
// a last line cut short, is named and skipped, never the reason to lose the others.
// Widget-free.

#include "fleet/fleetreport.h"

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <vector>

// Where the history is kept for this environment; empty when neither XDG_STATE_HOME nor
// HOME says where.
QString historyPath(const QProcessEnvironment& environment);

// Appends the report as one line and flushes it to the disk, making the folder (private to
// the user) and the file (0600) as needed. False with *error otherwise; the file is then as
// it was before.
bool appendHistory(const QString& path, const FleetReport& report, QString* error);

struct History {
    std::vector<FleetReport> reports;  // oldest first
    QStringList skipped;               // "line 12: not JSON (...)", one per unreadable line
};

// Reads the whole history; a missing file is an empty history. False with *error when the
// file exists but cannot be read.
bool readHistory(const QString& path, History* history, QString* error);

#endif
