#ifndef KELVORA_FLEET_FLEETSCHEDULER_H
#define KELVORA_FLEET_FLEETSCHEDULER_H

// Work on many cameras, at most N at once, in the order given. The scheduler only counts:
// the caller's `start` begins the work on camera i and reports its end through done(i),
// which may come at once, from inside `start`. With a burst, at most that many start in
// one go and the rest in later turns of the caller's event loop, so that a window driving
// hundreds of cameras keeps answering while they start. Widget-free.

#include <functional>
#include <memory>
#include <vector>

class FleetScheduler
{
public:
    using Start = std::function<void(int index)>;
    using AllDone = std::function<void()>;
    // Runs the function given at the next turn of the event loop.
    using Later = std::function<void(std::function<void()>)>;

    FleetScheduler(int count, int limit, Start start, AllDone allDone);

    // At most `perTurn` starts in one go, the rest through `later`; 0: no bound. Before run().
    void setBurst(int perTurn, Later later);
    // Starts the first `limit` cameras. With no camera at all, allDone comes at once.
    void run();
    // Camera `index` has ended: the next one starts, unless starting has stopped.
    void done(int index);
    // No camera starts any more; allDone comes once those at work have ended.
    void stopStarting();

    bool starting() const { return m_starting; }
    int running() const { return m_running; }
    bool finished() const { return m_finished; }
    // Cameras never started (after stopStarting), in order.
    std::vector<int> notStarted() const;

private:
    void fill();

    int m_count;
    int m_limit;
    Start m_start;
    AllDone m_allDone;
    int m_burst = 0;
    Later m_later;
    bool m_deferred = false;                              // a later fill is due
    std::shared_ptr<char> m_alive = std::make_shared<char>();  // for a fill due after the scheduler is gone
    int m_next = 0;
    int m_running = 0;
    bool m_starting = true;
    bool m_filling = false;
    bool m_finished = false;
    std::vector<char> m_state;  // 0 waiting, 1 at work, 2 done
};

#endif
