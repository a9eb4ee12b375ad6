#ifndef KELVORA_UPDATE_RUNSTATE_H
#define KELVORA_UPDATE_RUNSTATE_H

// The records and state of the one update run that can exist at a time. Process-wide:
// they outlive the progress dialog, whose construction and every end reset them.

#include "firmware/records.h"

#include <array>

struct sort_fileinfo {
    int FileNum = 0;     // plan entry now uploaded or waited for
    int MaxFileNum = 0;  // entries in the plan, 0..9
    std::array<file_info, kComponentCount> files;
};

extern vup_file_info diapro_FileInfo;
extern sort_fileinfo diapro_sort_fileinfo;

extern int DiaPro_mode;             // 0 upload out, 1 camera restarting, 2 re-inquiry out
extern double diapro_currenttime1;  // seconds spent waiting for upload replies, whole run
extern double diapro_currenttime2;  // reset-wait progress of the current file
extern int diapro_timeout2;         // reset-wait time-out of the current file, seconds
extern double diapro_interval2;     // progress per reset-wait tick

void resetSortFileInfo(sort_fileinfo& plan);

// Where a run keeps its records and state: the process-wide ones above for the progress
// dialog's run, a set of its own for each camera of a fleet.
struct RunRecords {
    vup_file_info* set;
    sort_fileinfo* plan;
    int* mode;              // DiaPro_mode
    double* uploadWait;     // diapro_currenttime1
    double* resetProgress;  // diapro_currenttime2
    int* resetTimeout;      // diapro_timeout2
    double* resetStep;      // diapro_interval2
};
RunRecords processRunRecords();

struct OwnRunRecords {
    vup_file_info set;
    sort_fileinfo plan;
    int mode = 0;
    double uploadWait = 0.0;
    double resetProgress = 0.0;
    int resetTimeout = 0;
    double resetStep = 0.0;

    RunRecords view() { return {&set, &plan, &mode, &uploadWait, &resetProgress, &resetTimeout, &resetStep}; }
};

#endif
