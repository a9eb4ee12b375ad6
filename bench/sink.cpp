#include "bench/sink.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string>

namespace {

bool sendAll(int fd, const std::string& data)
{
    std::size_t at = 0;
    while (at < data.size()) {
        const ssize_t n = ::send(fd, data.data() + at, data.size() - at, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        at += std::size_t(n);
    }
    return true;
}

// Value of a header in a request head, case-insensitive name; empty when absent.
std::string headerValue(const std::string& head, const char* name)
{
    const std::size_t len = std::char_traits<char>::length(name);
    std::size_t at = head.find("\r\n");
    while (at != std::string::npos && at + 2 < head.size()) {
        const std::size_t start = at + 2;
        const std::size_t end = head.find("\r\n", start);
        if (end == std::string::npos)
            break;
        if (end - start > len && head[start + len] == ':' && ::strncasecmp(head.c_str() + start, name, len) == 0) {
            std::size_t v = start + len + 1;
            while (v < end && (head[v] == ' ' || head[v] == '\t'))
                ++v;
            return head.substr(v, end - v);
        }
        at = end;
    }
    return {};
}

} // namespace

DiscardSink::~DiscardSink()
{
    stop();
}

int DiscardSink::start()
{
    m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listen < 0)
        return -1;
    const int one = 1;
    ::setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t addrLen = sizeof(addr);
    if (::bind(m_listen, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 || ::listen(m_listen, 16) != 0
        || ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&addr), &addrLen) != 0 || ::pipe2(m_wake, O_CLOEXEC) != 0) {
        ::close(m_listen);
        m_listen = -1;
        return -1;
    }
    m_acceptor = std::thread([this] { acceptLoop(); });
    return ntohs(addr.sin_port);
}

void DiscardSink::stop()
{
    if (m_listen < 0)
        return;
    const char wake = 'x';
    (void)!::write(m_wake[1], &wake, 1);
    m_acceptor.join();
    std::vector<std::thread> connections;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        connections.swap(m_connections);
    }
    for (std::thread& t : connections)
        t.join();
    ::close(m_listen);
    ::close(m_wake[0]);
    ::close(m_wake[1]);
    m_listen = -1;
}

void DiscardSink::acceptLoop()
{
    for (;;) {
        pollfd fds[2] = {{m_listen, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents)
            return;
        const int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        std::lock_guard<std::mutex> lock(m_mutex);
        m_connections.emplace_back([this, fd] { serve(fd); });
    }
}

void DiscardSink::serve(int fd)
{
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    std::string head;
    std::string buffer(256 * 1024, '\0');
    for (;;) {
        // Request head: everything up to the blank line. Bytes read past it are body.
        std::size_t headEnd;
        while ((headEnd = head.find("\r\n\r\n")) == std::string::npos) {
            pollfd p[2] = {{fd, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
            // A client that goes quiet for half a minute is gone; the bench must not hang on it.
            if (::poll(p, 2, 30000) <= 0 || p[1].revents) {
                ::close(fd);
                return;
            }
            const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
            if (n <= 0 || head.size() > 64 * 1024) {
                ::close(fd);
                return;
            }
            head.append(buffer.data(), std::size_t(n));
        }
        const std::string lengthText = headerValue(head, "Content-Length");
        const std::int64_t length = lengthText.empty() ? 0 : std::strtoll(lengthText.c_str(), nullptr, 10);
        std::int64_t got = std::min<std::int64_t>(length, std::int64_t(head.size() - headEnd - 4));
        const std::string leftover = head.substr(headEnd + 4 + std::size_t(got));
        const std::string expect = headerValue(head.substr(0, headEnd + 2), "Expect");
        const bool closeAfter = ::strcasecmp(headerValue(head.substr(0, headEnd + 2), "Connection").c_str(), "close") == 0;
        if (::strcasecmp(expect.c_str(), "100-continue") == 0 && !sendAll(fd, "HTTP/1.1 100 Continue\r\n\r\n"))
            break;
        while (got < length) {
            // MSG_TRUNC on TCP drops the bytes in the kernel without copying them out; the
            // length stays within the buffer all the same.
            const std::size_t want = std::size_t(std::min<std::int64_t>(length - got, std::int64_t(buffer.size())));
            const ssize_t n = ::recv(fd, buffer.data(), want, MSG_TRUNC);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            got += n;
        }
        m_lastBody.store(got);
        const std::string count = std::to_string(got);
        const std::string answer = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: "
                                   + std::to_string(count.size()) + "\r\n" + (closeAfter ? "Connection: close\r\n" : "")
                                   + "\r\n" + count;
        const bool sent = got == length && sendAll(fd, answer);
        ++m_answered;
        if (!sent || closeAfter)
            break;
        head = leftover;
    }
    // Let the client read the answer before the connection goes.
    ::shutdown(fd, SHUT_WR);
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 5000) <= 0 || ::recv(fd, buffer.data(), buffer.size(), MSG_TRUNC) <= 0)
            break;
    }
    ::close(fd);
}
