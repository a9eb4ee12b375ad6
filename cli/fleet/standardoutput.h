#ifndef KELVORA_FLEET_STANDARDOUTPUT_H
#define KELVORA_FLEET_STANDARDOUTPUT_H

// kelvora-fleet's standard output, every byte of it checked, as coreutils check theirs: a
// table, JSON or CSV that did not reach its file (a full disk, /dev/full, a file system
// gone) is a failure, never an exit 0. The first such failure is told once on the standard
// error ("kelvora-fleet: cannot write output: No space left on device"), and nothing more
// is written. A reader that has gone away (`| head`) is no fault of the output's: that ends
// quietly. SIGPIPE is ignored by the process (as Qt ignores it once it makes a socket), so
// a closed pipe comes back here as EPIPE instead of ending an update in mid-run.

#include <QByteArray>
#include <QString>

namespace fleetout {

// Ignores SIGPIPE for the process; from main(), before anything is written.
void install();

// Writes everything, or remembers why it could not; false once output has failed.
bool write(const QByteArray& bytes);
bool write(const QString& text);

bool failed();
// The reader went away (a closed pipe) rather than the output failing.
bool readerGone();

// The exit status of a command that printed its result: `status` when all of it was
// written, 1 otherwise. A command that only prints ends at once when its reader has gone:
// as a program killed by SIGPIPE, which shells do not report.
int finishPrinting(int status);
// The same for a command whose output accompanies work it must not abandon (update): 1
// when any output was lost, quietly for a closed pipe.
int finishWorking(int status);

// For tests: writes go to `fd` (the standard output unless set), and the failure is forgotten.
void useDescriptor(int fd);

} // namespace fleetout

#endif
