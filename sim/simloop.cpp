#include "sim/simloop.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <algorithm>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/common_interface_defs.h>
#endif

namespace simloop {

namespace {

// libstdc++'s std::regex recurses once per character: httplib's ".*" route over an 8 KiB
// request target (its longest) takes between 2 and 4 MiB of stack. Pages are only
// committed as they are touched, so a fiber costs what it uses.
constexpr std::size_t kStackBytes = 8u << 20;
constexpr std::size_t kGuardBytes = 4096;
// Spare stacks kept per loop; their pages below the top are given back on reuse.
constexpr std::size_t kSpareStacks = 64;
constexpr std::size_t kKeptResident = 64u << 10;
// A fiber that has run this long without waiting lets the others have the thread.
constexpr auto kSlice = std::chrono::milliseconds(2);
constexpr int kEventsPerWait = 256;

thread_local Loop* tlsLoop = nullptr;

// The address sanitizer must be told of every switch between stacks.
void startSwitch([[maybe_unused]] void** fakeStack, [[maybe_unused]] const void* bottom,
                 [[maybe_unused]] std::size_t size)
{
#if defined(__SANITIZE_ADDRESS__)
    __sanitizer_start_switch_fiber(fakeStack, bottom, size);
#endif
}

void finishSwitch([[maybe_unused]] void* fakeStack, [[maybe_unused]] const void** bottom,
                  [[maybe_unused]] std::size_t* size)
{
#if defined(__SANITIZE_ADDRESS__)
    __sanitizer_finish_switch_fiber(fakeStack, bottom, size);
#endif
}

[[noreturn]] void fatal(const char* what)
{
    std::perror(what);
    std::abort();
}

} // namespace

struct Loop::Fiber {
    Loop* loop = nullptr;
    ucontext_t context{};
    char* stack = nullptr; // lowest usable address, above the guard page
    void* tag = nullptr;
    std::function<void()> body;
    std::function<void()> done;
    Woken woken;
    bool finished = false;
    Clock::time_point resumedAt;
    void* fakeStack = nullptr;
};

Loop::Loop()
{
    ep_ = ::epoll_create1(EPOLL_CLOEXEC);
    wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (ep_ < 0 || wake_ < 0)
        fatal("kelvora sim: event loop");
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = 0; // watches count from 1
    ::epoll_ctl(ep_, EPOLL_CTL_ADD, wake_, &ev);
    thread_ = std::thread([this] { run(); });
}

Loop::~Loop()
{
    {
        std::lock_guard<std::mutex> lock(postM_);
        quit_ = true;
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wake_, &one, sizeof one);
    thread_.join();
    for (char* stack : spareStacks_)
        ::munmap(stack - kGuardBytes, kStackBytes + kGuardBytes);
    ::close(wake_);
    ::close(ep_);
}

void Loop::post(std::function<void()> task)
{
    {
        std::lock_guard<std::mutex> lock(postM_);
        posted_.push_back(std::move(task));
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wake_, &one, sizeof one);
}

void Loop::watch(Watch& w, int fd, std::uint32_t events, Clock::time_point deadline, std::function<void(Woken)> onFire)
{
    unwatch(w);
    const std::uint64_t id = nextId_++;
    w.id_ = id;
    w.fd_ = fd;
    w.fire_ = std::move(onFire);
    armed_[id] = &w;
    if (fd >= 0) {
        epoll_event ev{};
        ev.events = events;
        ev.data.u64 = id;
        if (::epoll_ctl(ep_, EPOLL_CTL_ADD, fd, &ev) != 0) {
            // Not watchable (no memory for it): reported as the descriptor's error, from the loop.
            w.fd_ = -1;
            post([this, id] { fire(id, {EPOLLERR, false}); });
        }
    }
    w.timed_ = deadline != kNever;
    if (w.timed_)
        w.timer_ = timers_.emplace(deadline, id);
}

void Loop::unwatch(Watch& w)
{
    if (!w.armed())
        return;
    armed_.erase(w.id_);
    if (w.fd_ >= 0)
        ::epoll_ctl(ep_, EPOLL_CTL_DEL, w.fd_, nullptr);
    if (w.timed_)
        timers_.erase(w.timer_);
    w.id_ = 0;
    w.fd_ = -1;
    w.timed_ = false;
    w.fire_ = nullptr;
}

void Loop::cancel(Watch& w)
{
    if (w.armed())
        fire(w.id_, {0, true});
}

// A wait that has fired is unset before its owner hears of it, so the owner may set it again.
void Loop::fire(std::uint64_t id, Woken woken)
{
    const auto it = armed_.find(id);
    if (it == armed_.end())
        return; // unset after its event was collected
    Watch& w = *it->second;
    std::function<void(Woken)> fn = std::move(w.fire_);
    unwatch(w);
    fn(woken);
}

char* Loop::takeStack()
{
    if (!spareStacks_.empty()) {
        char* stack = spareStacks_.back();
        spareStacks_.pop_back();
        return stack;
    }
    void* base = ::mmap(nullptr, kStackBytes + kGuardBytes, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_STACK, -1, 0);
    if (base == MAP_FAILED)
        return nullptr;
    // An overflow faults on the guard page instead of writing over the neighbour's memory.
    ::mprotect(base, kGuardBytes, PROT_NONE);
    return static_cast<char*>(base) + kGuardBytes;
}

void Loop::giveStack(char* stack)
{
    if (spareStacks_.size() >= kSpareStacks) {
        ::munmap(stack - kGuardBytes, kStackBytes + kGuardBytes);
        return;
    }
    // Whatever a deep request touched below the stack's top goes back to the system.
    ::madvise(stack, kStackBytes - kKeptResident, MADV_DONTNEED);
    spareStacks_.push_back(stack);
}

bool Loop::spawn(void* tag, std::function<void()> body, std::function<void()> done)
{
    char* stack = takeStack();
    if (!stack)
        return false;
    auto* f = new Fiber;
    f->loop = this;
    f->stack = stack;
    f->tag = tag;
    f->body = std::move(body);
    f->done = std::move(done);
    ::getcontext(&f->context);
    f->context.uc_stack.ss_sp = stack;
    f->context.uc_stack.ss_size = kStackBytes;
    f->context.uc_link = nullptr;
    const auto address = reinterpret_cast<std::uintptr_t>(f);
    ::makecontext(&f->context, reinterpret_cast<void (*)()>(&Loop::trampoline), 2, unsigned(address >> 32),
                  unsigned(address & 0xffffffffu));
    ready_.push_back(f);
    return true;
}

void Loop::trampoline(unsigned hi, unsigned lo)
{
    auto* f = reinterpret_cast<Fiber*>((std::uintptr_t(hi) << 32) | std::uintptr_t(lo));
    Loop* loop = f->loop;
    finishSwitch(nullptr, &loop->threadStack_, &loop->threadStackSize_);
    f->body();
    f->body = nullptr;
    f->finished = true;
    // Back to the loop for good: the sanitizer may forget this stack's fake frames.
    startSwitch(nullptr, loop->threadStack_, loop->threadStackSize_);
    ::setcontext(&loop->loopContext_);
    std::abort(); // setcontext does not return
}

void Loop::resume(Fiber* f)
{
    running_ = f;
    f->resumedAt = Clock::now();
    void* fakeStack = nullptr;
    startSwitch(&fakeStack, f->stack, kStackBytes);
    ::swapcontext(&loopContext_, &f->context);
    finishSwitch(fakeStack, nullptr, nullptr);
    running_ = nullptr;
    if (!f->finished)
        return;
    std::function<void()> done = std::move(f->done);
    giveStack(f->stack);
    delete f;
    if (done)
        done();
}

void Loop::suspend(Fiber* f)
{
    startSwitch(&f->fakeStack, threadStack_, threadStackSize_);
    ::swapcontext(&f->context, &loopContext_);
    finishSwitch(f->fakeStack, &threadStack_, &threadStackSize_);
}

Woken Loop::await(Watch& w, int fd, std::uint32_t events, Clock::time_point deadline)
{
    Loop* loop = tlsLoop;
    Fiber* f = loop ? loop->running_ : nullptr;
    if (!f)
        fatal("kelvora sim: a wait off a fiber");
    loop->watch(w, fd, events, deadline, [loop, f](Woken woken) {
        f->woken = woken;
        loop->ready_.push_back(f);
    });
    loop->suspend(f);
    return f->woken;
}

void Loop::yieldIfLong()
{
    Loop* loop = tlsLoop;
    Fiber* f = loop ? loop->running_ : nullptr;
    if (!f || Clock::now() - f->resumedAt < kSlice)
        return;
    loop->ready_.push_back(f);
    loop->suspend(f);
}

void* Loop::fiberTag()
{
    Loop* loop = tlsLoop;
    return loop && loop->running_ ? loop->running_->tag : nullptr;
}

void Loop::run()
{
    tlsLoop = this;
    std::vector<epoll_event> events(kEventsPerWait);
    std::vector<std::function<void()>> tasks;
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(postM_);
            if (quit_)
                break;
            tasks.swap(posted_);
        }
        for (auto& task : tasks)
            task();
        tasks.clear();

        // Fibers made ready from here on wait for the next round, after the events.
        for (std::size_t n = ready_.size(); n > 0 && !ready_.empty(); --n) {
            Fiber* f = ready_.front();
            ready_.pop_front();
            resume(f);
        }

        int timeoutMs = -1;
        if (!ready_.empty()) {
            timeoutMs = 0;
        } else if (!timers_.empty()) {
            const auto left = timers_.begin()->first - Clock::now();
            timeoutMs = left <= Clock::duration::zero()
                ? 0
                : int(std::min<long long>(std::chrono::ceil<std::chrono::milliseconds>(left).count(), 60000));
        }
        const int n = ::epoll_wait(ep_, events.data(), kEventsPerWait, timeoutMs);
        for (int i = 0; i < n; ++i) {
            const epoll_event& ev = events[std::size_t(i)];
            if (ev.data.u64 == 0) {
                std::uint64_t count;
                [[maybe_unused]] const ssize_t r = ::read(wake_, &count, sizeof count);
                continue;
            }
            fire(ev.data.u64, {ev.events, false});
        }
        const Clock::time_point now = Clock::now();
        while (!timers_.empty() && timers_.begin()->first <= now)
            fire(timers_.begin()->second, {0, false});
    }
    tlsLoop = nullptr;
}

std::shared_ptr<Hub> Hub::acquire()
{
    // Never destroyed: a camera may stop during the program's exit.
    static auto* m = new std::mutex;
    static auto* current = new std::weak_ptr<Hub>;
    std::lock_guard<std::mutex> lock(*m);
    std::shared_ptr<Hub> hub = current->lock();
    if (!hub) {
        hub = std::make_shared<Hub>();
        *current = hub;
    }
    return hub;
}

Hub::Hub() : cameras_(kLoops, 0)
{
    for (int i = 0; i < kLoops; ++i)
        loops_.push_back(std::make_unique<Loop>());
}

Loop& Hub::attach()
{
    std::lock_guard<std::mutex> lock(m_);
    std::size_t best = 0;
    for (std::size_t i = 1; i < cameras_.size(); ++i) {
        if (cameras_[i] < cameras_[best])
            best = i;
    }
    ++cameras_[best];
    return *loops_[best];
}

void Hub::detach(Loop& loop)
{
    std::lock_guard<std::mutex> lock(m_);
    for (std::size_t i = 0; i < loops_.size(); ++i) {
        if (loops_[i].get() == &loop)
            --cameras_[i];
    }
}

} // namespace simloop
