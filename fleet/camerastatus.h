#ifndef KELVORA_FLEET_CAMERASTATUS_H
#define KELVORA_FLEET_CAMERASTATUS_H

// Where one camera of a fleet stands, as the driver publishes it after every step: what a
// front end draws (the fleet's live lines) or watches (the soak).

#include "fleet/fleetplan.h"

#include <QString>

struct CameraStatus {
    enum class Phase {
        Waiting,     // not started: nothing shown
        Asking,      // inquiry sequence
        Uploading,   // file posted, percent of its bytes sent
        Restarting,  // the camera writes the file and restarts, percent of the expected time
        CheckingNetwork,  // the network version check of the run
        Verifying,   // asking the camera again after the run
        Ended,
    };
    QString address;
    Phase phase = Phase::Waiting;
    int fileNumber = 0;  // 1-based position in the upload order
    int fileCount = 0;
    QString fileName;
    int percent = -1;    // -1: not known
    FleetEnd end = FleetEnd::Stopped;  // when ended
    QString message;     // when ended: the window's text, or why the camera was not reached
    bool verified = false;
};

#endif
