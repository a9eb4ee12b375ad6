#ifndef KELVORA_BENCH_SINK_H
#define KELVORA_BENCH_SINK_H

// A loopback HTTP server that reads request bodies and throws them away as fast as the
// kernel hands them over, so an upload benchmark measures the client, not the server.
// Every request is answered 200 with the number of body bytes received as its body.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

class DiscardSink {
public:
    DiscardSink() = default;
    ~DiscardSink();
    DiscardSink(const DiscardSink&) = delete;
    DiscardSink& operator=(const DiscardSink&) = delete;

    // Listens on 127.0.0.1 on a free port; returns the port or -1.
    int start();
    // Closes the port and joins every connection thread.
    void stop();

    // Body bytes of the last request that was answered, -1 before the first.
    std::int64_t lastBodyBytes() const { return m_lastBody.load(); }
    // Requests answered so far.
    int answered() const { return m_answered.load(); }

private:
    void acceptLoop();
    void serve(int fd);

    int m_listen = -1;
    int m_wake[2] = {-1, -1};
    std::thread m_acceptor;
    std::mutex m_mutex;
    std::vector<std::thread> m_connections;
    std::atomic<std::int64_t> m_lastBody{-1};
    std::atomic<int> m_answered{0};
};

#endif
