#ifndef KELVORA_LAUNCH_CREDENTIALS_H
#define KELVORA_LAUNCH_CREDENTIALS_H

#include "firmware/records.h"

#include <QString>

// The credentials dialog's copy of the firmware set, with the Basic credential added.
extern vup_file_info DiaPass_FileInfo;

// The HTTP Basic credential: Base64 of the Latin-1 bytes of "user:password" (characters
// outside Latin-1 become one "?" each, as everywhere on the wire; nothing is trimmed, colons are kept as typed).
QString basicCredential(const QString& userId, const QString& password);

#endif
