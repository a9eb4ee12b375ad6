#ifndef KELVORA_FLEET_INTERRUPTWATCHER_H
#define KELVORA_FLEET_INTERRUPTWATCHER_H

// Ctrl-C during a command: the signal handler only writes a byte to a pipe, which the
// event loop reads. The first press asks to stop starting (no new camera, no new file),
// the second to stop at once; a third ends the process as Ctrl-C always does.

#include <QObject>

class QSocketNotifier;

class InterruptWatcher : public QObject
{
    Q_OBJECT

public:
    // Takes over SIGINT until destroyed; one watcher at a time.
    explicit InterruptWatcher(QObject* parent = nullptr);
    ~InterruptWatcher() override;

    bool isWatching() const { return m_notifier != nullptr; }
    int presses() const { return m_presses; }
    // Presses the signal handler has counted, read without the event loop (for a
    // question on the terminal that must give way to Ctrl-C).
    static int pressesSoFar();

signals:
    void stopStarting();
    void stopNow();

private:
    void readPresses();

    QSocketNotifier* m_notifier = nullptr;
    int m_presses = 0;
};

#endif
