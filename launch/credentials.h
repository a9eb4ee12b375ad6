#ifndef KELVORA_LAUNCH_CREDENTIALS_H
#define KELVORA_LAUNCH_CREDENTIALS_H

#include "firmware/records.h"

// The credentials dialog's copy of the firmware set, with the Basic credential added.
extern vup_file_info DiaPass_FileInfo;

#endif
