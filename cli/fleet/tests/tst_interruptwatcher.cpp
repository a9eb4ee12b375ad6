#include "cli/fleet/interruptwatcher.h"

#include <QSignalSpy>
#include <QtTest>

#include <csignal>

class TestInterruptWatcher : public QObject
{
    Q_OBJECT

private slots:
    void interrupts()
    {
        InterruptWatcher watcher;
        QVERIFY(watcher.isWatching());
        QSignalSpy starting(&watcher, &InterruptWatcher::stopStarting);
        QSignalSpy now(&watcher, &InterruptWatcher::stopNow);
        QCOMPARE(::raise(SIGINT), 0);
        QTRY_COMPARE_WITH_TIMEOUT(starting.size(), 1, 5000);
        QCOMPARE(now.size(), 0);
        QCOMPARE(::raise(SIGINT), 0);
        QTRY_COMPARE_WITH_TIMEOUT(now.size(), 1, 5000);
        QCOMPARE(starting.size(), 1);
        QCOMPARE(watcher.presses(), 2);
    }
};

QTEST_GUILESS_MAIN(TestInterruptWatcher)
#include "tst_interruptwatcher.moc"
