// kelvora-camsim-probe: asks many simulated cameras for their model all at once, over plain
// sockets, and counts what each address did: answered, refused the connection, or took it and
// said nothing. For measuring kelvora-camsim at scale; it is not part of the package.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

const char* kUsage =
    "Usage: kelvora-camsim-probe [--count N] [--consecutive ports|addresses] [--timeout MS] ADDR:PORT\n"
    "Opens N connections at once (N addresses or ports counted up from ADDR:PORT, default ports),\n"
    "sends each the model inquiry and waits up to MS milliseconds (default 5000) for the answers.\n";

using Clock = std::chrono::steady_clock;

struct Probe {
    std::string address;
    int sock = -1;
    bool connected = false;
    std::string request;
    std::size_t sent = 0;
    std::string answer;
    enum { Waiting, Answered, Refused, Failed } end = Waiting;
    double ms = 0;
};

[[noreturn]] void usage(const std::string& what)
{
    std::fprintf(stderr, "kelvora-camsim-probe: %s\n%s", what.c_str(), kUsage);
    std::exit(2);
}

double since(Clock::time_point t0)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

} // namespace

int main(int argc, char** argv)
{
    long count = 1;
    bool addresses = false;
    long timeoutMs = 5000;
    std::string first;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&] {
            if (i + 1 >= argc)
                usage("missing value for " + arg);
            return std::string(argv[++i]);
        };
        if (arg == "--count")
            count = std::atol(value().c_str());
        else if (arg == "--timeout")
            timeoutMs = std::atol(value().c_str());
        else if (arg == "--consecutive") {
            const std::string v = value();
            if (v != "ports" && v != "addresses")
                usage("--consecutive takes ports or addresses");
            addresses = v == "addresses";
        } else if (arg == "-h" || arg == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (first.empty() && arg[0] != '-')
            first = arg;
        else
            usage("unknown argument: " + arg);
    }
    const auto colon = first.rfind(':');
    in_addr base{};
    if (colon == std::string::npos || inet_pton(AF_INET, first.substr(0, colon).c_str(), &base) != 1)
        usage("ADDR:PORT wanted, ADDR an IPv4 address");
    const long port0 = std::atol(first.c_str() + colon + 1);
    if (count < 1 || timeoutMs < 1 || port0 < 1 || (!addresses && port0 + count - 1 > 65535))
        usage("count, timeout or port out of range");
    if ((ntohl(base.s_addr) >> 24) != 127 || (addresses && ((ntohl(base.s_addr) + count - 1) >> 24) != 127))
        usage("only loopback addresses (127.0.0.0/8) are probed");

    // One descriptor per connection, all open at once.
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &files);
    }

    const int ep = ::epoll_create1(EPOLL_CLOEXEC);
    std::vector<Probe> probes(static_cast<std::size_t>(count));
    const Clock::time_point t0 = Clock::now();
    for (std::size_t i = 0; i < probes.size(); ++i) {
        Probe& p = probes[i];
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = htonl(ntohl(base.s_addr) + (addresses ? std::uint32_t(i) : 0));
        to.sin_port = htons(static_cast<std::uint16_t>(port0 + (addresses ? 0 : long(i))));
        char text[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &to.sin_addr, text, sizeof text);
        p.address = std::string(text) + ":" + std::to_string(ntohs(to.sin_port));
        p.request = "GET /cgi-bin/qv_cam?cmd=QID&res=1 HTTP/1.1\r\nHost: " + p.address + "\r\nConnection: close\r\n\r\n";
        p.sock = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (p.sock < 0) {
            std::fprintf(stderr, "kelvora-camsim-probe: socket: %s\n", std::strerror(errno));
            return 1;
        }
        if (::connect(p.sock, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0 && errno != EINPROGRESS) {
            p.end = errno == ECONNREFUSED ? Probe::Refused : Probe::Failed;
            p.ms = since(t0);
            ::close(p.sock);
            p.sock = -1;
            continue;
        }
        epoll_event ev{};
        ev.events = EPOLLIN | EPOLLOUT;
        ev.data.u64 = i;
        ::epoll_ctl(ep, EPOLL_CTL_ADD, p.sock, &ev);
    }
    const double connectMs = since(t0);

    long open = 0;
    for (const Probe& p : probes)
        open += p.sock >= 0;
    std::vector<epoll_event> events(1024);
    char buf[4096];
    while (open > 0 && since(t0) < double(timeoutMs)) {
        const int n = ::epoll_wait(ep, events.data(), int(events.size()), 20);
        for (int e = 0; e < n; ++e) {
            Probe& p = probes[events[std::size_t(e)].data.u64];
            if (p.sock < 0)
                continue;
            const std::uint32_t what = events[std::size_t(e)].events;
            auto end = [&](decltype(Probe::end) how) {
                p.end = how;
                p.ms = since(t0);
                ::close(p.sock);
                p.sock = -1;
                --open;
            };
            if (!p.connected && (what & (EPOLLOUT | EPOLLERR | EPOLLHUP))) {
                int err = 0;
                socklen_t len = sizeof err;
                ::getsockopt(p.sock, SOL_SOCKET, SO_ERROR, &err, &len);
                if (err != 0) {
                    end(err == ECONNREFUSED ? Probe::Refused : Probe::Failed);
                    continue;
                }
                p.connected = true;
            }
            if (p.connected && p.sent < p.request.size() && (what & EPOLLOUT)) {
                const ssize_t w = ::send(p.sock, p.request.data() + p.sent, p.request.size() - p.sent, MSG_NOSIGNAL);
                if (w > 0)
                    p.sent += std::size_t(w);
                if (p.sent == p.request.size()) {
                    epoll_event ev{};
                    ev.events = EPOLLIN;
                    ev.data.u64 = events[std::size_t(e)].data.u64;
                    ::epoll_ctl(ep, EPOLL_CTL_MOD, p.sock, &ev);
                }
            }
            if (what & (EPOLLIN | EPOLLHUP | EPOLLERR)) {
                const ssize_t r = ::recv(p.sock, buf, sizeof buf, 0);
                if (r > 0)
                    p.answer.append(buf, std::size_t(r));
                else if (r == 0 || (errno != EAGAIN && errno != EINTR))
                    end(p.answer.empty() ? Probe::Failed : Probe::Answered);
            }
        }
    }

    std::map<std::string, long> models;
    long answered = 0, refused = 0, failed = 0, silent = 0;
    double lastAnswer = 0;
    for (Probe& p : probes) {
        if (p.sock >= 0)
            ::close(p.sock);
        if (p.end == Probe::Answered) {
            ++answered;
            lastAnswer = std::max(lastAnswer, p.ms);
            const auto body = p.answer.find("\r\n\r\n");
            ++models[body == std::string::npos ? std::string("?") : p.answer.substr(body + 4)];
        } else if (p.end == Probe::Refused)
            ++refused;
        else if (p.end == Probe::Failed)
            ++failed;
        else
            ++silent;
    }
    std::printf("asked %ld at once (connections opened in %.1f ms)\n", count, connectMs);
    std::printf("answered %ld, the last after %.1f ms\n", answered, lastAnswer);
    for (const auto& [model, n] : models)
        std::printf("  %-24s %ld\n", model.c_str(), n);
    std::printf("refused %ld\nsilent %ld (no answer within %ld ms)\nfailed otherwise %ld\n", refused, silent, timeoutMs,
                failed);
    for (const Probe& p : probes) {
        if (p.end == Probe::Failed)
            std::printf("  failed: %s\n", p.address.c_str());
    }
    return answered == count ? 0 : 1;
}
