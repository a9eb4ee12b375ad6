#include "firmware/records.h"

void resetVupFileInfo(vup_file_info& info)
{
    info.DirPath.clear();
    info.Base64.clear();
    info.CamIPAddress.clear();
    info.Model = 0;
    for (const Component& c : kComponents) {
        file_info& f = info.*c.field;
        f.FileName.clear();
        f.Version.clear();
        f.Vupno = 0;
        f.Select = RMOCAM_FALSE;
    }
}
