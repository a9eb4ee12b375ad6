#include "fleet/fleetscheduler.h"

#include <QtTest>

#include <deque>

class TestFleetScheduler : public QObject
{
    Q_OBJECT

private slots:
    void schedule_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("limit");
        QTest::addColumn<bool>("endAtOnce");  // each camera ends inside its start
        QTest::addColumn<int>("stopAfter");   // stopStarting from the start of this camera; -1 never
        QTest::addColumn<int>("started");
        QTest::addColumn<int>("atOnce");      // most cameras at work at one time
        QTest::addColumn<int>("burst");       // starts in one go; 0: no bound
        QTest::addColumn<int>("firstGo");     // cameras started by run() itself
        QTest::newRow("at most N at once") << 10 << 3 << false << -1 << 10 << 3 << 0 << 3;
        QTest::newRow("fewer than N") << 2 << 8 << false << -1 << 2 << 2 << 0 << 2;
        QTest::newRow("ends at once, no nesting") << 6 << 2 << true << -1 << 6 << 1 << 0 << 6;
        QTest::newRow("stop starting") << 10 << 3 << false << 4 << 5 << 3 << 0 << 3;
        QTest::newRow("no camera") << 0 << 3 << false << -1 << 0 << 0 << 0 << 0;
        QTest::newRow("burst: the rest later") << 40 << 32 << false << -1 << 40 << 32 << 8 << 8;
        QTest::newRow("burst: ends at once") << 20 << 4 << true << -1 << 20 << 1 << 8 << 8;
        QTest::newRow("burst: stop between turns") << 40 << 32 << false << 10 << 11 << 11 << 8 << 8;
        QTest::newRow("burst wider than N") << 10 << 3 << false << -1 << 10 << 3 << 8 << 3;
    }

    void schedule()
    {
        QFETCH(int, count);
        QFETCH(int, limit);
        QFETCH(bool, endAtOnce);
        QFETCH(int, stopAfter);
        QFETCH(int, started);
        QFETCH(int, atOnce);
        QFETCH(int, burst);
        QFETCH(int, firstGo);
        std::vector<int> order;
        std::deque<std::function<void()>> turns;  // the event loop's later turns
        std::deque<int> working;
        int most = 0;
        int depth = 0;
        int deepest = 0;
        int allDone = 0;
        FleetScheduler* scheduler = nullptr;
        FleetScheduler s(
            count, limit,
            [&](int i) {
                deepest = qMax(deepest, ++depth);
                order.push_back(i);
                most = qMax(most, scheduler->running());
                if (i == stopAfter)
                    scheduler->stopStarting();
                if (endAtOnce)
                    scheduler->done(i);
                else
                    working.push_back(i);
                --depth;
            },
            [&] { ++allDone; });
        scheduler = &s;
        s.setBurst(burst, [&](std::function<void()> f) { turns.push_back(std::move(f)); });
        s.run();
        QCOMPARE(int(order.size()), firstGo);
        QVERIFY(turns.size() <= 1);
        while (!working.empty() || !turns.empty()) {
            QCOMPARE(allDone, 0);
            if (!turns.empty()) {
                const auto turn = std::move(turns.front());
                turns.pop_front();
                turn();
                continue;
            }
            const int i = working.front();
            working.pop_front();
            s.done(i);
            s.done(i);  // a second report of one end changes nothing
        }
        QCOMPARE(int(order.size()), started);
        for (int k = 0; k < started; ++k)
            QCOMPARE(order[std::size_t(k)], k);
        QCOMPARE(most, atOnce);
        QCOMPARE(deepest, started > 0 ? 1 : 0);
        QCOMPARE(allDone, 1);
        QCOMPARE(int(s.notStarted().size()), count - started);
    }

    // Ctrl-C reaches the event loop: the first press stops starting, the second stops now.

};

QTEST_GUILESS_MAIN(TestFleetScheduler)
#include "tst_fleetscheduler.moc"
