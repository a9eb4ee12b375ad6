#include "update/runstate.h"

vup_file_info diapro_FileInfo;
sort_fileinfo diapro_sort_fileinfo;

int DiaPro_mode = 0;
double diapro_currenttime1 = 0.0;
double diapro_currenttime2 = 0.0;
int diapro_timeout2 = 0;
double diapro_interval2 = 0.0;

void resetSortFileInfo(sort_fileinfo& plan)
{
    plan = sort_fileinfo{};
}

RunRecords processRunRecords()
{
    return {&diapro_FileInfo, &diapro_sort_fileinfo, &DiaPro_mode, &diapro_currenttime1, &diapro_currenttime2,
            &diapro_timeout2, &diapro_interval2};
}
