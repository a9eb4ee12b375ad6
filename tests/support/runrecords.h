#ifndef KELVORA_TESTS_RUNRECORDS_H
#define KELVORA_TESTS_RUNRECORDS_H

#include "update/runstate.h"

// True when an update run has left nothing of itself in the process-wide records.
inline bool runRecordsEmpty()
{
    bool empty = DiaPro_mode == 0 && diapro_sort_fileinfo.MaxFileNum == 0 && diapro_sort_fileinfo.FileNum == 0
        && diapro_FileInfo.DirPath.isEmpty() && diapro_FileInfo.Base64.isEmpty() && diapro_FileInfo.CamIPAddress.isEmpty()
        && diapro_FileInfo.Model == 0 && diapro_currenttime1 == 0.0 && diapro_currenttime2 == 0.0 && diapro_timeout2 == 0;
    for (const Component& c : kComponents)
        empty = empty && (diapro_FileInfo.*c.field).FileName.isEmpty() && (diapro_FileInfo.*c.field).Select == 0;
    for (const file_info& f : diapro_sort_fileinfo.files)
        empty = empty && f.FileName.isEmpty() && f.Vupno == 0;
    return empty;
}

#endif
