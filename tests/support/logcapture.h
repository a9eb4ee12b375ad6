#ifndef KELVORA_TESTS_LOGCAPTURE_H
#define KELVORA_TESTS_LOGCAPTURE_H

// Captures the debug log while alive, line by line as the operator would see it (qDebug's
// own quoting included), and restores the previous handler when destroyed.

#include <QDebug>
#include <QMutex>
#include <QStringList>

class LogCapture
{
public:
    LogCapture() { s_current = this; m_previous = qInstallMessageHandler(&LogCapture::handler); }
    ~LogCapture() { qInstallMessageHandler(m_previous); s_current = nullptr; }
    LogCapture(const LogCapture&) = delete;

    QStringList lines() const { QMutexLocker lock(&m_mutex); return m_lines; }
    void clear() { QMutexLocker lock(&m_mutex); m_lines.clear(); }
    QString text() const { return lines().join(u'\n'); }
    bool contains(const QString& line) const { return lines().contains(line); }
    int count(const QString& line) const { return int(lines().count(line)); }

    // True when each entry appears after the one before; an entry with line breaks stands
    // for lines that follow each other directly (a label and the value written after it).
    bool containsInOrder(const QStringList& expected) const
    {
        const QStringList all = lines();
        qsizetype at = 0;
        for (const QString& entry : expected) {
            const QStringList run = entry.split(u'\n');
            while (at + run.size() <= all.size() && all.mid(at, run.size()) != run)
                ++at;
            if (at + run.size() > all.size())
                return false;
            at += run.size();
        }
        return true;
    }

    // Those of `secrets` found anywhere in the log, in clear or as qDebug quotes a value
    // (escaping characters outside ASCII). Empty when nothing leaked.
    QStringList secretsFound(const QStringList& secrets) const
    {
        const QString all = text();
        QStringList found;
        for (const QString& secret : secrets) {
            QString quoted;
            QDebug(&quoted).nospace() << secret;
            if (!secret.isEmpty() && (all.contains(secret) || all.contains(quoted.mid(1, quoted.size() - 2))))
                found << secret;
        }
        return found;
    }

private:
    static void handler(QtMsgType type, const QMessageLogContext& context, const QString& message)
    {
        LogCapture* self = s_current;
        if (!self)
            return;
        { QMutexLocker lock(&self->m_mutex); self->m_lines.append(message); }
        if (type != QtDebugMsg && self->m_previous)
            self->m_previous(type, context, message);
    }

    inline static LogCapture* s_current = nullptr;
    mutable QMutex m_mutex;
    QStringList m_lines;
    QtMessageHandler m_previous = nullptr;
};

// Every form in which a user ID and password could reach the log: each as typed, joined
// as "user:password", and the joined text in Base64 of its Latin-1 bytes (as the camera
// receives it) and of its UTF-8 bytes.
inline QStringList credentialForms(const QString& user, const QString& password)
{
    const QString joined = user + u':' + password;
    QStringList forms{user, password, joined, QString::fromLatin1(joined.toLatin1().toBase64()),
                      QString::fromLatin1(joined.toUtf8().toBase64())};
    forms.removeDuplicates();
    return forms;
}

#endif
