#ifndef KELVORA_SIM_SIMLOOP_H
#define KELVORA_SIM_SIMLOOP_H

// The threads every simulated camera of a process shares: a fixed number of event loops, each
// waiting with one epoll on the listening sockets and connections of the cameras it was given.
// A request runs on a fiber (a stack of its own, switched with ucontext) so that whatever it
// waits for (bytes, room to write, a delay, a slow body's next slice) hands the thread back to
// the loop; an idle or held connection is only a descriptor in the epoll set, and a restart
// is only a deadline the camera compares with the clock when asked. What does keep a loop's
// thread is work: parsing, writing a firmware file to disk, the request observer. A camera's
// connections all stay on its loop: fibers never move between threads (so nothing cached
// from thread-local storage, errno included, can go stale). Internal to the sim.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include <ucontext.h>

namespace simloop {

using Clock = std::chrono::steady_clock;
constexpr Clock::time_point kNever = Clock::time_point::max();

// How a wait ended: events seen on the descriptor (hang-up and error always count), or none
// when the deadline passed, or cancelled by the loop's user.
struct Woken {
    std::uint32_t events = 0;
    bool cancelled = false;
};

// One wait, for a descriptor's events, a deadline or both. It fires once and is then free to
// be set again. Its owner keeps it; it must not be destroyed while set.
class Watch {
public:
    Watch() = default;
    Watch(const Watch&) = delete;
    Watch& operator=(const Watch&) = delete;
    bool armed() const { return id_ != 0; }

private:
    friend class Loop;
    std::uint64_t id_ = 0;
    int fd_ = -1;
    bool timed_ = false;
    std::multimap<Clock::time_point, std::uint64_t>::iterator timer_;
    std::function<void(Woken)> fire_;
};

class Loop {
public:
    Loop();
    ~Loop(); // nothing may be watched or running any more
    Loop(const Loop&) = delete;
    Loop& operator=(const Loop&) = delete;

    // Any thread: runs task on the loop's thread soon.
    void post(std::function<void()> task);

    // The rest only on the loop's thread.
    // fd < 0: the deadline alone; events 0: only the descriptor's hang-up or error.
    void watch(Watch& w, int fd, std::uint32_t events, Clock::time_point deadline, std::function<void(Woken)> onFire);
    void unwatch(Watch& w);
    // Ends a set wait at once as cancelled.
    void cancel(Watch& w);
    // Runs body on a fiber, then done on the loop's own stack; false when no stack could be had.
    bool spawn(void* tag, std::function<void()> body, std::function<void()> done);

    // On a fiber: suspends it until the wait fires.
    static Woken await(Watch& w, int fd, std::uint32_t events, Clock::time_point deadline);
    // On a fiber: after a few milliseconds without a wait, lets the loop's other work run.
    static void yieldIfLong();
    // The running fiber's tag; null off a fiber.
    static void* fiberTag();

private:
    struct Fiber;
    void run();
    void fire(std::uint64_t id, Woken woken);
    void resume(Fiber* f);
    void suspend(Fiber* f);
    static void trampoline(unsigned hi, unsigned lo);
    char* takeStack();
    void giveStack(char* stack);

    int ep_ = -1;
    int wake_ = -1;
    std::mutex postM_;
    std::vector<std::function<void()>> posted_;
    bool quit_ = false;
    std::unordered_map<std::uint64_t, Watch*> armed_;
    std::multimap<Clock::time_point, std::uint64_t> timers_;
    std::uint64_t nextId_ = 1;
    std::deque<Fiber*> ready_;
    std::vector<char*> spareStacks_;
    ucontext_t loopContext_{};
    Fiber* running_ = nullptr;
    const void* threadStack_ = nullptr; // the loop thread's own stack, for the address sanitizer
    std::size_t threadStackSize_ = 0;
    std::thread thread_;
};

// The loops of the process. Created with the first camera that starts, ended (threads
// joined) when the last one stops.
class Hub {
public:
    static constexpr int kLoops = 4;

    static std::shared_ptr<Hub> acquire();
    Hub();
    // The loop with the fewest cameras; give it back with detach().
    Loop& attach();
    void detach(Loop& loop);

private:
    std::mutex m_;
    std::vector<std::unique_ptr<Loop>> loops_;
    std::vector<int> cameras_;
};

} // namespace simloop

#endif
