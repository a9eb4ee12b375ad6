#include "fleet/cameralog.h"

#include "common/debuglog.h"
#include "common/displaytext.h"

#include <QDateTime>
#include <QDir>

#include <algorithm>

QString cameraLogFileName(const QString& address)
{
    QString name = address;
    for (QChar& c : name) {
        if (!(c.isLetterOrNumber() && c.unicode() < 128) && c != u'.' && c != u'-')
            c = u'_';
    }
    return name + QStringLiteral(".log");
}

bool CameraLog::open(const QString& dir, const QString& address, Opening opening, QString* error)
{
    m_file.setFileName(QDir(dir).filePath(cameraLogFileName(address)));
    const QIODevice::OpenMode mode = QIODevice::WriteOnly | QIODevice::Text
        | (opening == Opening::Resume ? QIODevice::Append : QIODevice::Truncate);
    const QFile::Permissions owner = QFile::ReadOwner | QFile::WriteOwner;
    // A log made by an earlier version, or by hand, is made private too.
    if (!m_file.open(mode, owner) || !m_file.setPermissions(owner)) {
        *error = QStringLiteral("%1: %2").arg(m_file.fileName(), m_file.errorString());
        m_file.close();
        return false;
    }
    if (opening == Opening::Resume)
        write(QLatin1String(kResumedMark));
    return true;
}

void CameraLog::addSecret(const QString& secret)
{
    if (!secret.isEmpty() && !m_secrets.contains(secret)) {
        m_secrets << secret;
        // The longest first, so that no part of a longer secret is left beside a mask.
        std::sort(m_secrets.begin(), m_secrets.end(),
                  [](const QString& a, const QString& b) { return a.size() > b.size(); });
    }
}

void CameraLog::write(const QString& line)
{
    if (!m_file.isOpen())
        return;
    QString text = line;
    for (const QString& secret : std::as_const(m_secrets))
        text.replace(secret, QLatin1String(kelvora::kSecretMask));
    // A camera's answers reach the log as they came; whoever reads the file on a terminal
    // must not have them drawn as escape sequences. A line stays one line. After the
    // masks: a secret with a control character in it would no longer be found escaped.
    text = displaySafe(text);
    const QByteArray stamp = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toLatin1();
    m_file.write(stamp + ' ' + text.toUtf8() + '\n');
    m_file.flush();
}
