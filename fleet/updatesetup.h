#ifndef KELVORA_FLEET_UPDATESETUP_H
#define KELVORA_FLEET_UPDATESETUP_H

// What a front end settles before a many-camera update starts, the same way for every front
// end (kelvora-fleet on a terminal, the many-camera window): which cameras its targets name,
// which credentials each camera is asked with and which secrets every log masks, whether a
// resumed update's folder still matches its report, where the window's reports are kept,
// and the one line a plan is shown as. The questions themselves (a terminal prompt, a
// dialog) stay with the front end. Widget-free; sends nothing.

#include "fleet/credentialsfile.h"
#include "fleet/fleetupdate.h"

#include <QDateTime>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

// Inquiries at once (a scan, and the start of an update): as many as a site's silent
// addresses could hold for an inquiry's whole bound, so they cost one bound, not several.
inline constexpr int kScanParallel = 512;
inline constexpr int kUpdateParallel = 8;   // update runs at once
inline constexpr int kMaxParallel = 4096;

// The user ID and password for every camera without an entry of its own.
struct Credentials {
    QString user;
    QString password;
    QString source;  // "environment", "prompt", "dialog": for reports, never the secret itself
    bool complete() const { return !user.isEmpty() && !password.isEmpty(); }
};

// KELVORA_USER and KELVORA_PASSWORD; an empty variable counts as unset.
Credentials credentialsFromEnvironment(const QProcessEnvironment& environment);

// The cameras of the targets (addresses, HOST:PORT, ranges, @FILE), without those the
// exclusions match: false with *why naming the target at fault, or saying that every
// target is excluded.
bool camerasOf(const QStringList& targets, const QStringList& excludes, QStringList* addresses, QString* why);

// A field's text as targets: items separated by blanks, commas or line ends.
QStringList targetItems(const QString& text);

// Each camera's credential: its entry in the file, else the one for all; empty for an
// entry without a run.
std::vector<CameraCredential> credentialsFor(const std::vector<PlanEntry>& entries, const CredentialsFile& file,
                                             const Credentials& common);
// What no log may show: every password of the file and the one for all, in every form.
QStringList secretsOf(const CredentialsFile& file, const Credentials& common);
// Whether any camera the update may run lacks an entry of its own, so that the credentials
// for all must be asked for; cameras a resumed update carries over need none.
bool needsCommonCredentials(const QStringList& addresses, const std::optional<FleetReport>& earlier,
                            const CredentialsFile& file);

// Why a resumed update may not carry on from `earlier` with this folder, one line each
// (fleet/fleetpolicy.h's resumeChanges, with the folder's files as they are now); empty
// when it may. `choiceGiven`: components asked for anew (null: the report's).
QStringList resumeRefusals(const FleetReport& earlier, FirmwareFolder& folder, const PlanChoice* choiceGiven);

// Raises the open-file limit to what the system allows this process, and returns it: a
// thousand cameras at once need a few thousand descriptors, and the usual soft limit is 1024.
qint64 raiseOpenFileLimit();

// Where the window keeps its updates' reports: $XDG_STATE_HOME/kelvora/reports, by default
// ~/.local/state/kelvora/reports; empty when neither says where.
QString reportsFolder(const QProcessEnvironment& environment);
// A report's file name by its update's start: "update-20261209T061359Z.json".
QString reportFileName(const QDateTime& startedUtc);

// A plan in one line, for a table cell: "up to date", "2 files: servo_cpu V01.10 -> V01.20,
// eeprom_cam V01.00 -> V01.10", "no section for QV-TK10", "versions refused", "file refused
// by SHA256SUMS: NAME", or the reason a camera could not be asked.
QString planSummary(const PlanEntry& entry);

#endif
