#ifndef KELVORA_TESTS_FIFORELEASE_H
#define KELVORA_TESTS_FIFORELEASE_H

#include <QByteArray>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

// Opens the FIFO for writing once a reader waits on it (from 2 s on, for up to 10 s),
// so that code that wrongly opens it is let go with nothing read instead of hanging.
class FifoRelease
{
public:
    explicit FifoRelease(const QByteArray& path)
        : m_thread([this, path] {
            for (int i = 0; i < 100 && !m_done; ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                const int fd = i >= 20 ? ::open(path.constData(), O_WRONLY | O_NONBLOCK) : -1;
                if (fd >= 0) {
                    ::close(fd);
                    return;
                }
            }
        })
    {
    }
    ~FifoRelease()
    {
        m_done = true;
        m_thread.join();
    }

private:
    std::atomic<bool> m_done{false};
    std::thread m_thread;
};

#endif
