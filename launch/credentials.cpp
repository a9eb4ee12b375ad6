#include "launch/credentials.h"

vup_file_info DiaPass_FileInfo;
