#include "launch/credentials.h"

#include "common/wiretext.h"

#include <QByteArray>

vup_file_info DiaPass_FileInfo;

QString basicCredential(const QString& userId, const QString& password)
{
    const QString joined = userId + QLatin1Char(':') + password;
    return QString::fromLatin1(toWireLatin1(joined).toBase64());
}
