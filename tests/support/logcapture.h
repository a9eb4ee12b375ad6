#ifndef KELVORA_TESTS_LOGCAPTURE_H
#define KELVORA_TESTS_LOGCAPTURE_H

// Captures the debug log while alive, line by line, as the operator would see it
// (qDebug's own quoting included). Restores the previous handler when destroyed.

#include <QMutex>
#include <QMutexLocker>
#include <QStringList>
#include <QtGlobal>

class LogCapture
{
public:
    LogCapture()
    {
        current() = this;
        m_previous = qInstallMessageHandler(&LogCapture::handler);
    }
    ~LogCapture()
    {
        qInstallMessageHandler(m_previous);
        current() = nullptr;
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    QStringList lines() const
    {
        QMutexLocker lock(&m_mutex);
        return m_lines;
    }
    void clear()
    {
        QMutexLocker lock(&m_mutex);
        m_lines.clear();
    }
    QString text() const { return lines().join(QLatin1Char('\n')); }
    bool contains(const QString& line) const { return lines().contains(line); }
    int count(const QString& line) const { return int(lines().count(line)); }

    // True when `expected` appears in this order (not necessarily adjacent).
    bool containsInOrder(const QStringList& expected) const
    {
        const QStringList all = lines();
        int at = 0;
        for (const QString& line : all) {
            if (at < expected.size() && line == expected[at])
                ++at;
        }
        return at == expected.size();
    }

private:
    static LogCapture*& current()
    {
        static LogCapture* instance = nullptr;
        return instance;
    }
    static void handler(QtMsgType type, const QMessageLogContext& context, const QString& message)
    {
        if (LogCapture* self = current()) {
            {
                QMutexLocker lock(&self->m_mutex);
                self->m_lines.append(message);
            }
            if (type != QtDebugMsg && self->m_previous)
                self->m_previous(type, context, message);
        }
    }

    mutable QMutex m_mutex;
    QStringList m_lines;
    QtMessageHandler m_previous = nullptr;
};

#endif
