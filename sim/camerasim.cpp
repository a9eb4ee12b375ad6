#include "sim/camerasim.h"

#include "camera/caminfo.h"
#include "sim/simloop.h"

#include <httplib.h>

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <strings.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <set>

namespace {

using Clock = simloop::Clock;

constexpr int kKeepAliveMaxRequests = 100;
constexpr int kKeepAliveTimeoutMs = 5000;
constexpr int kIoTimeoutMs = 5000;
// Accept is retried after this when the process is out of descriptors.
constexpr int kAcceptRetryMs = 50;
constexpr int kAcceptsPerWake = 64;
constexpr std::size_t kReadBufferBytes = 64 * 1024;
// Silent requests a camera holds at once; each keeps a descriptor (no thread).
constexpr std::size_t kMaxHeldRequests = 8;

constexpr const char* kUploadPathOld = "/cgi-bin/upload";     // models 1-3
constexpr const char* kUploadPathNew = "/cgi-bin/qv_update";  // models 4-12
constexpr const char* kFirmwareMagic = "KELVORA-SIM-FW ";
constexpr std::size_t kFirmwareHeadBytes = 256;

// Accepted-upload pages; each carries only its own family's marker.
constexpr const char* kAcceptedOld =
    "<html><head><title>Version Up</title></head><body>\r\n"
    "<p>The file has been received. Currently resetting... Please wait.</p>\r\n"
    "</body></html>\r\n";
constexpr const char* kAcceptedNew =
    "<html><head><title>Firmware Update</title>\r\n"
    "<meta http-equiv=\"refresh\" content=\"120;URL=/cgi-bin/qv_top\"></head><body>\r\n"
    "<p>Firmware received. The camera is writing it and restarts.</p>\r\n"
    "<p><a href=\"/cgi-bin/qv_top\">Back to top</a></p>\r\n"
    "</body></html>\r\n";
constexpr const char* kRefused =
    "<html><head><title>Update</title></head><body><p>Update failed.</p></body></html>\r\n";

const char* const kVersionLabels[kSimComponentCount] = {
    "PT-CPU", "CAM-CPU", "CAM-FPGA", "NET-CPU", "OUT-FPGA", "IF-CPU", "LENS-FPGA", "IF-EEPROM", "CAM-EEPROM",
};

std::string base64(const std::string& in)
{
    static const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::size_t i = 0;
    for (; i + 2 < in.size(); i += 3) {
        const unsigned v = (static_cast<unsigned char>(in[i]) << 16) | (static_cast<unsigned char>(in[i + 1]) << 8)
            | static_cast<unsigned char>(in[i + 2]);
        out += alphabet[(v >> 18) & 63];
        out += alphabet[(v >> 12) & 63];
        out += alphabet[(v >> 6) & 63];
        out += alphabet[v & 63];
    }
    if (i < in.size()) {
        const bool two = i + 1 < in.size();
        const unsigned v = (static_cast<unsigned char>(in[i]) << 16) | (two ? static_cast<unsigned char>(in[i + 1]) << 8 : 0u);
        out += alphabet[(v >> 18) & 63];
        out += alphabet[(v >> 12) & 63];
        out += two ? alphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

bool startsWithNoCase(const std::string& s, const char* prefix)
{
    const std::size_t n = std::strlen(prefix);
    return s.size() >= n && strncasecmp(s.c_str(), prefix, n) == 0;
}

std::string trimmed(const std::string& s)
{
    const auto b = s.find_first_not_of(" \t");
    if (b == std::string::npos)
        return {};
    return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

// Payload a connection has brought in: what the server has read of it, plus what waits in
// the kernel unread (which counts neither the peer's FIN nor anything after its reset).
class WireCount {
public:
    // Reads through here, so that a count never falls between a read and its tally. Returns
    // the bytes read, or -errno.
    ssize_t recv(int sock, char* into, std::size_t size)
    {
        std::lock_guard<std::mutex> lock(m_);
        ssize_t n;
        do {
            n = ::recv(sock, into, size, 0);
        } while (n < 0 && errno == EINTR);
        if (n < 0)
            return -errno;
        read_ += std::uint64_t(n);
        return n;
    }
    std::uint64_t now(int sock)
    {
        std::lock_guard<std::mutex> lock(m_);
        if (frozen_)
            return *frozen_;
        int queued = 0;
        if (::ioctl(sock, FIONREAD, &queued) != 0 || queued < 0)
            queued = 0;
        return read_ + std::uint64_t(queued);
    }
    // Before the server shuts the connection down: what is queued then is what came in.
    void freeze(int sock)
    {
        const std::uint64_t n = now(sock);
        std::lock_guard<std::mutex> lock(m_);
        frozen_ = n;
    }

private:
    std::mutex m_;
    std::uint64_t read_ = 0;
    std::optional<std::uint64_t> frozen_;
};

// One accepted connection. Reads go through a small buffer and every byte handed to
// httplib is recorded, so each request's head and body can be kept exactly as sent.
// Its requests run on fibers of its camera's loop; between requests, and while a silent
// request is held, it is only a descriptor the loop watches.
class SimConnection final : public httplib::Stream {
public:
    enum class State { Idle, Running, Held };
    enum class Next { Idle, Close, Hold };

    SimConnection(int sock, const std::atomic<bool>& stopping, std::shared_ptr<WireCount> count)
        : sock_(sock), stopping_(stopping), count_(std::move(count)) {}

    static SimConnection* current() { return static_cast<SimConnection*>(simloop::Loop::fiberTag()); }

    bool is_readable() const override { return pos_ < len_ || waitFor(EPOLLIN, kIoTimeoutMs); }
    bool is_writable() const override { return !aborted_ && !holding_ && waitFor(EPOLLOUT, kIoTimeoutMs); }

    ssize_t read(char* ptr, std::size_t size) override
    {
        if (aborted_ || holding_)
            return -1;
        // The handler logs the request before it closes the connection.
        if (dropAt_ && bodyBytes_ >= *dropAt_)
            return -1;
        if (pos_ == len_) {
            if (stopping_)
                return -1;
            if (buf_.empty())
                buf_.resize(kReadBufferBytes);
            std::size_t want = buf_.size();
            if (rate_ > 0) {
                // Small reads, so that the kernel's window shows the client the rate.
                want = std::min(want, std::max<std::size_t>(1, rate_ / 20));
                if (headEnd_ != std::string::npos && !waitForBodyBudget())
                    return -1;
            }
            ssize_t n;
            for (;;) {
                // Acknowledge at once: clients that send head and body in two writes would
                // otherwise wait out the delayed ACK on every upload.
                const int one = 1;
                ::setsockopt(sock_, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof(one));
                n = count_->recv(sock_, buf_.data(), want);
                if (n != -EAGAIN && n != -EWOULDBLOCK)
                    break;
                if (!waitFor(EPOLLIN, kIoTimeoutMs))
                    return -1;
            }
            if (n <= 0)
                return n < 0 ? -1 : 0;
            pos_ = 0;
            len_ = static_cast<std::size_t>(n);
            // A body arriving as fast as it is read would keep the loop's other cameras waiting.
            simloop::Loop::yieldIfLong();
        }
        std::size_t n = std::min(size, len_ - pos_);
        if (dropAt_)
            n = std::min(n, *dropAt_ - bodyBytes_);
        std::memcpy(ptr, buf_.data() + pos_, n);
        pos_ += n;
        note(ptr, n);
        return static_cast<ssize_t>(n);
    }

    ssize_t write(const char* ptr, std::size_t size) override
    {
        std::size_t done = 0;
        while (done < size) {
            if (aborted_ || holding_ || stopping_)
                return -1;
            const ssize_t n = ::send(sock_, ptr + done, size - done, MSG_NOSIGNAL);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                if (errno == EAGAIN && waitFor(EPOLLOUT, kIoTimeoutMs))
                    continue;
                return -1;
            }
            done += static_cast<std::size_t>(n);
        }
        return static_cast<ssize_t>(size);
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override { address(::getpeername, ip, port); }
    void get_local_ip_and_port(std::string& ip, int& port) const override { address(::getsockname, ip, port); }
    socket_t socket() const override { return sock_; }

    // Bytes of a next request already read: it is served without waiting on the loop.
    bool hasBuffered() const { return pos_ < len_; }
    // An idle or held connection keeps no read buffer: thousands of them wait at once.
    void releaseBuffer()
    {
        if (!hasBuffered() || holding_) {
            std::vector<char>().swap(buf_);
            pos_ = len_ = 0;
        }
    }
    simloop::Watch& watch() { return watch_; }

    void beginRequest(bool recordBody, std::size_t bodyBytesPerSecond)
    {
        record_.clear();
        headEnd_ = std::string::npos;
        bodyBytes_ = 0;
        recordBody_ = recordBody;
        rate_ = bodyBytesPerSecond;
        dropAt_.reset();
        early_.clear();
        seq_ = 0;
    }

    std::string head() const { return headEnd_ == std::string::npos ? record_ : record_.substr(0, headEnd_); }
    std::size_t bodyBytes() const { return bodyBytes_; }
    bool recordsBody() const { return recordBody_; }
    std::string takeBody()
    {
        if (headEnd_ == std::string::npos || !recordBody_)
            return {};
        std::string body = std::move(record_);
        body.erase(0, headEnd_);
        record_.clear();
        return body;
    }

    void dropAfterBodyBytes(std::size_t n) { dropAt_ = bodyBytes_ + n; }
    bool dropped() const { return dropAt_ && bodyBytes_ >= *dropAt_; }
    void abort()
    {
        aborted_ = true;
        count_->freeze(sock_);
        ::shutdown(sock_, SHUT_RDWR);
    }
    bool aborted() const { return aborted_; }
    // An upload to be answered from its head alone; the answer is the last on this connection.
    void setEarlyAnswer(std::string page) { early_ = std::move(page); }
    const std::string& earlyAnswer() const { return early_; }

    // The request stays unanswered: nothing more is written or read, and once its fiber is
    // done the loop keeps the connection until the peer closes it or the camera stops.
    void holdUnanswered(std::uint64_t seq, std::shared_ptr<SimUpload> upload)
    {
        holding_ = true;
        heldSeq_ = seq;
        heldUpload_ = std::move(upload);
    }
    bool holding() const { return holding_; }
    std::uint64_t heldSeq() const { return heldSeq_; }
    std::shared_ptr<SimUpload> heldUpload() const { return heldUpload_; }

    // Waits, reading nothing, until the time has passed or the camera stops.
    void sleepFor(int ms)
    {
        if (!stopping_)
            simloop::Loop::await(watch_, -1, 0, Clock::now() + std::chrono::milliseconds(ms));
    }

    void setSeq(std::uint64_t seq) { seq_ = seq; }
    std::uint64_t seq() const { return seq_; }

    State state = State::Idle;
    Next next = Next::Idle;
    int served = 0; // requests so far

private:
    // Throttled body: waits until the bytes read so far fit the rate since the head ended.
    // A reset ends the wait: the kernel keeps what had arrived, and reading that slowly
    // would keep the request open long after the client has gone.
    bool waitForBodyBudget() const
    {
        const auto due = bodyStart_ + std::chrono::microseconds(bodyBytes_ * 1000000 / rate_);
        while (!stopping_ && !aborted_) {
            if (Clock::now() >= due)
                return true;
            const simloop::Woken woken = simloop::Loop::await(watch_, sock_, 0, due);
            if (woken.cancelled || (woken.events & (EPOLLHUP | EPOLLERR)))
                return false;
        }
        return false;
    }

    // True once the descriptor shows the events (or a hang-up or an error); false on time-out
    // or when the camera stops.
    bool waitFor(std::uint32_t events, int timeoutMs) const
    {
        if (stopping_)
            return false;
        const simloop::Woken woken =
            simloop::Loop::await(watch_, sock_, events, Clock::now() + std::chrono::milliseconds(timeoutMs));
        return !woken.cancelled && woken.events != 0;
    }

    void note(const char* p, std::size_t n)
    {
        if (headEnd_ != std::string::npos) {
            bodyBytes_ += n;
            if (recordBody_)
                record_.append(p, n);
            return;
        }
        const std::size_t from = record_.size() >= 3 ? record_.size() - 3 : 0;
        record_.append(p, n);
        const auto end = record_.find("\r\n\r\n", from);
        if (end != std::string::npos) {
            headEnd_ = end + 4;
            bodyStart_ = Clock::now();
            bodyBytes_ = record_.size() - headEnd_;
            if (!recordBody_)
                record_.resize(headEnd_);
        }
    }

    template <typename Fn>
    void address(Fn fn, std::string& ip, int& port) const
    {
        sockaddr_storage addr{};
        socklen_t len = sizeof(addr);
        ip.clear();
        port = -1;
        if (fn(sock_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
            return;
        char text[INET6_ADDRSTRLEN] = {};
        if (addr.ss_family == AF_INET) {
            const auto* a = reinterpret_cast<const sockaddr_in*>(&addr);
            inet_ntop(AF_INET, &a->sin_addr, text, sizeof(text));
            port = ntohs(a->sin_port);
        } else if (addr.ss_family == AF_INET6) {
            const auto* a = reinterpret_cast<const sockaddr_in6*>(&addr);
            inet_ntop(AF_INET6, &a->sin6_addr, text, sizeof(text));
            port = ntohs(a->sin6_port);
        }
        ip = text;
    }

    int sock_;
    mutable simloop::Watch watch_;
    const std::atomic<bool>& stopping_;
    std::vector<char> buf_;
    std::size_t pos_ = 0;
    std::size_t len_ = 0;
    std::string record_;
    std::size_t headEnd_ = std::string::npos;
    std::size_t bodyBytes_ = 0;
    bool recordBody_ = true;
    std::optional<std::size_t> dropAt_;
    std::size_t rate_ = 0;
    Clock::time_point bodyStart_;
    bool aborted_ = false;
    bool holding_ = false;
    std::uint64_t heldSeq_ = 0;
    std::shared_ptr<SimUpload> heldUpload_;
    std::shared_ptr<WireCount> count_;
    std::string early_;
    std::uint64_t seq_ = 0;
};

struct Answer {
    int status = 200;
    std::string body;
    std::string contentType = "text/plain";
    bool close = false; // close the connection without answering
    bool hold = false;  // keep the connection open without answering
    bool challenge = false;
};

} // namespace

struct CameraSim::Impl {
    class Server;

    mutable std::mutex m;
    std::atomic<bool> stopping{false};
    std::atomic<bool> recordRaw{true};

    // While running: the process's loops, and the one this camera's sockets are on.
    std::shared_ptr<simloop::Hub> hub;
    simloop::Loop* loop = nullptr;
    std::unique_ptr<Server> server;
    int listenSock = -1;
    int port = -1;
    std::string bindAddress;
    // On the loop's thread only: the listening socket's wait and the open connections.
    simloop::Watch listenWatch;
    std::set<SimConnection*> conns;
    // stop() waits for the loop to have closed the port and every connection.
    std::mutex stopM;
    std::condition_variable stopped;
    bool ended = false;

    // Open connections, and what the closed ones had received (under connM; so are the
    // listening socket's acceptance and close).
    mutable std::mutex connM;
    std::map<int, std::shared_ptr<WireCount>> liveCounts;
    std::uint64_t closedBytes = 0;
    int handedOver = 0; // accepted by bytesReceived(), not yet taken by the loop

    int model = CAM_MODELID_QV_TK300;
    std::array<std::string, kSimComponentCount> versions;
    std::string user = "admin";
    std::string password = "password";
    SimFaults faults;
    std::chrono::milliseconds restartTime{2000};
    SimBusyMode busyMode = SimBusyMode::HttpError;
    bool busy = false;
    bool busyForever = false;
    Clock::time_point busyUntil;
    std::optional<std::pair<int, std::string>> pendingVersion;
    std::string saveDir;
    bool keepContent = true;

    std::vector<SimRequest> log;
    std::uint64_t nextSeq = 1;
    std::size_t held = 0;
    std::function<void(const SimRequest&)> observer;

    void loadProfile(int id)
    {
        model = id;
        const SimProfile* p = simProfile(id);
        for (int i = 0; i < kSimComponentCount; ++i)
            versions[static_cast<std::size_t>(i)] = p->versions[static_cast<std::size_t>(i)];
        busy = busyForever = false;
        pendingVersion.reset();
    }

    // Caller holds m. Ends an expired restart on the way.
    bool busyLocked()
    {
        if (busy && !busyForever && Clock::now() >= busyUntil)
            endRestartLocked();
        return busy;
    }

    void endRestartLocked()
    {
        busy = busyForever = false;
        if (pendingVersion)
            versions[static_cast<std::size_t>(pendingVersion->first)] = pendingVersion->second;
        pendingVersion.reset();
    }

    static SimRequestKind classify(const httplib::Request& req)
    {
        if (req.method == "POST")
            return SimRequestKind::Upload;
        if (req.method != "GET" || req.get_param_value("res") != "1")
            return SimRequestKind::Other;
        const std::string cmd = req.get_param_value("cmd");
        if (req.path == "/cgi-bin/qv_cam" && cmd == "QID")
            return SimRequestKind::ModelInquiry;
        if (req.path == "/cgi-bin/qv_ptz" && cmd.size() == 5 && cmd.compare(0, 4, "#QSV") == 0 && cmd[4] >= '0'
            && cmd[4] <= '8')
            return SimRequestKind::VersionInquiry;
        return SimRequestKind::Other;
    }

    void onRequestStart(httplib::Request& req)
    {
        // The camera's web server neither compresses nor serves byte ranges; httplib would.
        req.headers.erase("Accept-Encoding");
        req.headers.erase("Range");
        req.ranges.clear();

        SimConnection* conn = SimConnection::current();
        if (conn && req.method == "POST") {
            conn->setEarlyAnswer(earlyAnswer(req));
            // httplib then announces the close instead of a keep-alive.
            if (!conn->earlyAnswer().empty()) {
                req.headers.erase("Connection");
                req.headers.emplace("Connection", "close");
            }
        }
        SimRequest r;
        r.method = req.method;
        r.target = req.target;
        r.path = req.path;
        r.kind = classify(req);
        r.rawHead = conn ? conn->head() : std::string();
        std::size_t at = 0;
        for (bool first = true;; first = false) {
            const auto eol = r.rawHead.find("\r\n", at);
            if (eol == std::string::npos || eol == at)
                break;
            const std::string line = r.rawHead.substr(at, eol - at);
            at = eol + 2;
            if (first) {
                r.requestLine = line;
                continue;
            }
            const auto colon = line.find(':');
            if (colon != std::string::npos)
                r.headers.emplace_back(line.substr(0, colon), trimmed(line.substr(colon + 1)));
        }
        std::lock_guard<std::mutex> lock(m);
        r.seq = nextSeq++;
        if (conn)
            conn->setSeq(r.seq);
        log.push_back(std::move(r));
    }

    static int listenOn(const std::string& host, int port)
    {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
        addrinfo* found = nullptr;
        if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0)
            return -1;
        int sock = -1;
        for (addrinfo* ai = found; ai && sock < 0; ai = ai->ai_next) {
            sock = ::socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, ai->ai_protocol);
            if (sock < 0)
                continue;
            // Lets start() take the port again at once after stop(), past the closed
            // connections' TIME_WAIT. No SO_REUSEPORT: two cameras must not share a port.
            const int one = 1;
            ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
            if (::bind(sock, ai->ai_addr, ai->ai_addrlen) != 0 || ::listen(sock, SOMAXCONN) != 0) {
                ::close(sock);
                sock = -1;
            }
        }
        ::freeaddrinfo(found);
        return sock;
    }

    // On the camera's loop from here to closeConnection(). Connections are counted from
    // accept on, before any request is read.
    void listen()
    {
        loop->watch(listenWatch, listenSock, EPOLLIN, simloop::kNever, [this](simloop::Woken) { acceptSome(); });
    }

    void acceptSome()
    {
        for (int i = 0; i < kAcceptsPerWake; ++i) {
            std::shared_ptr<WireCount> count;
            int sock;
            int error;
            {
                std::lock_guard<std::mutex> lock(connM);
                sock = takeConnectionLocked(count);
                error = errno;
            }
            if (sock < 0) {
                if (error == EINTR || error == ECONNABORTED)
                    continue;
                if (error != EAGAIN && error != EWOULDBLOCK) {
                    // Out of descriptors or memory: the backlog waits a while instead of the
                    // loop spinning on it.
                    loop->watch(listenWatch, -1, 0, Clock::now() + std::chrono::milliseconds(kAcceptRetryMs),
                                [this](simloop::Woken) { listen(); });
                    return;
                }
                break;
            }
            adopt(sock, std::move(count));
        }
        listen();
    }

    // Accepts a connection waiting on the port, counted from here on; -1 (errno set) when
    // none can be had. Caller holds connM.
    int takeConnectionLocked(std::shared_ptr<WireCount>& count)
    {
        if (listenSock < 0) {
            errno = EAGAIN;
            return -1;
        }
        const int sock = ::accept4(listenSock, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (sock < 0)
            return -1;
        // Headers and body go out in separate writes; without this each answer waits
        // for the client's delayed ACK.
        const int one = 1;
        ::setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
        count = std::make_shared<WireCount>();
        liveCounts[sock] = count;
        return sock;
    }

    void adopt(int sock, std::shared_ptr<WireCount> count)
    {
        auto* conn = new SimConnection(sock, stopping, std::move(count));
        conns.insert(conn);
        idle(conn);
    }

    // Between requests the connection is a descriptor the loop watches, up to the
    // keep-alive time.
    void idle(SimConnection* conn)
    {
        conn->state = SimConnection::State::Idle;
        if (stopping) {
            closeConnection(conn);
            return;
        }
        if (conn->hasBuffered()) {
            serve(conn);
            return;
        }
        conn->releaseBuffer();
        loop->watch(conn->watch(), conn->socket(), EPOLLIN,
                    Clock::now() + std::chrono::milliseconds(kKeepAliveTimeoutMs), [this, conn](simloop::Woken woken) {
                        if (woken.events)
                            serve(conn);
                        else
                            closeConnection(conn);
                    });
    }

    void serve(SimConnection* conn);

    // A held request's connection: watched for the peer's close, then released.
    void park(SimConnection* conn)
    {
        conn->state = SimConnection::State::Held;
        conn->releaseBuffer();
        if (stopping) {
            release(conn);
            return;
        }
        loop->watch(conn->watch(), conn->socket(), EPOLLRDHUP, simloop::kNever,
                    [this, conn](simloop::Woken) { release(conn); });
    }

    void release(SimConnection* conn)
    {
        {
            std::lock_guard<std::mutex> lock(m);
            --held;
        }
        finish(conn->heldSeq(), -1, {}, conn->heldUpload());
        conn->abort();
        closeConnection(conn);
    }

    // The port is closed and every connection ended: idle and held ones at once, running ones
    // as soon as their fiber sees the stop (any wait of theirs ends now).
    void shutDown()
    {
        loop->unwatch(listenWatch);
        {
            std::lock_guard<std::mutex> lock(connM);
            ::close(listenSock);
            listenSock = -1;
        }
        const std::vector<SimConnection*> open(conns.begin(), conns.end());
        for (SimConnection* conn : open) {
            switch (conn->state) {
            case SimConnection::State::Idle:
                closeConnection(conn);
                break;
            case SimConnection::State::Held:
                loop->unwatch(conn->watch());
                release(conn);
                break;
            case SimConnection::State::Running:
                loop->cancel(conn->watch());
                break;
            }
        }
        endIfDone();
    }

    void endIfDone()
    {
        if (!stopping || listenSock >= 0 || !conns.empty())
            return;
        {
            std::lock_guard<std::mutex> lock(connM);
            if (handedOver > 0)
                return;
        }
        std::lock_guard<std::mutex> lock(stopM);
        ended = true;
        stopped.notify_all();
    }

    std::size_t readRate()
    {
        std::lock_guard<std::mutex> lock(m);
        return faults.uploadReadBytesPerSecond;
    }

    void closeConnection(SimConnection* conn)
    {
        const int sock = conn->socket();
        loop->unwatch(conn->watch());
        {
            std::lock_guard<std::mutex> lock(connM);
            const auto live = liveCounts.find(sock);
            closedBytes += live->second->now(sock);
            liveCounts.erase(live);
        }
        ::shutdown(sock, SHUT_RDWR);
        ::close(sock);
        conns.erase(conn);
        delete conn;
        endIfDone();
    }

    std::uint64_t bytesReceived()
    {
        std::lock_guard<std::mutex> lock(connM);
        // Connections the loop has not accepted yet have brought bytes too: they are taken
        // here, counted, and handed to the loop; a busy loop does not make a count come late.
        std::shared_ptr<WireCount> count;
        for (int sock; (sock = takeConnectionLocked(count)) >= 0;) {
            ++handedOver;
            loop->post([this, sock, count] {
                {
                    std::lock_guard<std::mutex> lock(connM);
                    --handedOver;
                }
                adopt(sock, count);
            });
        }
        std::uint64_t total = closedBytes;
        for (const auto& [sock, count] : liveCounts)
            total += count->now(sock);
        return total;
    }

    void finish(std::uint64_t seq, int status, const std::string& body, std::shared_ptr<const SimUpload> upload)
    {
        std::optional<SimRequest> done;
        std::function<void(const SimRequest&)> notify;
        {
            std::lock_guard<std::mutex> lock(m);
            for (auto it = log.rbegin(); it != log.rend(); ++it) {
                if (it->seq == seq) {
                    it->status = status;
                    it->answer = body;
                    it->upload = std::move(upload);
                    done = *it;
                    break;
                }
            }
            notify = observer;
        }
        if (done && notify)
            notify(*done);
    }

    static void pause(SimConnection* conn, int ms)
    {
        if (ms > 0 && conn)
            conn->sleepFor(ms);
    }

    // Spooled part files, removed unless one is renamed into place.
    struct Spool {
        std::vector<std::string> paths; // per part; empty when the part stays in memory
        Spool() = default;
        Spool(const Spool&) = delete;
        Spool& operator=(const Spool&) = delete;
        ~Spool()
        {
            for (const std::string& p : paths) {
                if (!p.empty())
                    std::remove(p.c_str());
            }
        }
    };

    std::shared_ptr<SimUpload> receive(const httplib::Request& req, const httplib::ContentReader* reader,
                                       SimConnection* conn, bool& parsed, Spool& spool)
    {
        auto up = std::make_shared<SimUpload>();
        bool whole = true;
        std::string spoolDir;
        {
            std::lock_guard<std::mutex> lock(m);
            if (conn && faults.upload == SimUploadFault::DropConnection && req.path == uploadPath() && !busyLocked())
                conn->dropAfterBodyBytes(faults.dropAfterBodyBytes);
            whole = keepContent;
            if (!keepContent)
                spoolDir = saveDir;
        }
        // Files arrive in small chunks; reserving avoids a string twice the file's size.
        const std::size_t reserve =
            std::min<std::size_t>(std::strtoull(req.get_header_value("Content-Length").c_str(), nullptr, 10), 1u << 30);
        const std::uint64_t seq = conn ? conn->seq() : 0;
        std::ofstream out;
        // A file that could not be written whole is removed; saving it then fails.
        auto closeSpool = [&] {
            if (!out.is_open())
                return;
            out.close();
            if (out.fail())
                std::remove(spool.paths.back().c_str());
        };
        parsed = true;
        if (reader && req.is_multipart_form_data()) {
            parsed = (*reader)(
                [&](const httplib::MultipartFormData& f) {
                    up->parts.push_back(SimPart{f.name, f.filename, f.content_type, {}, 0});
                    closeSpool();
                    spool.paths.emplace_back();
                    if (whole && !f.filename.empty())
                        up->parts.back().content.reserve(reserve);
                    if (!spoolDir.empty() && !f.filename.empty()) {
                        spool.paths.back() = spoolDir + "/.camsim-" + std::to_string(port) + "-" + std::to_string(seq)
                            + "-" + std::to_string(up->parts.size()) + ".part";
                        out.open(spool.paths.back(), std::ios::binary | std::ios::trunc);
                    }
                    return true;
                },
                [&](const char* data, std::size_t n) {
                    if (up->parts.empty())
                        return false;
                    SimPart& p = up->parts.back();
                    // Otherwise only the first line matters; a spooled file goes to disk.
                    const std::size_t take = whole ? n : std::min(n, kFirmwareHeadBytes - std::min(kFirmwareHeadBytes, p.content.size()));
                    p.content.append(data, take);
                    p.size += n;
                    if (!spool.paths.back().empty())
                        out.write(data, static_cast<std::streamsize>(n));
                    return true;
                });
        } else if (reader) {
            parsed = (*reader)([](const char*, std::size_t) { return true; });
        }
        closeSpool();
        if (conn) {
            up->bodySize = conn->bodyBytes();
            up->bodyRecorded = conn->recordsBody();
            up->body = conn->takeBody();
        }
        return up;
    }

    std::string uploadPath() const { return isTkd7Family(model) ? kUploadPathOld : kUploadPathNew; }

    Answer inquiry(const httplib::Request& req, SimRequestKind kind)
    {
        std::lock_guard<std::mutex> lock(m);
        if (busyLocked())
            return busyAnswer(kind);
        Answer a;
        if (kind == SimRequestKind::ModelInquiry) {
            a.body = simProfile(model)->modelAnswer;
            if (faults.modelAnswerCrLf)
                a.body += "\r\n";
        } else if (kind == SimRequestKind::VersionInquiry) {
            const int digit = req.get_param_value("cmd")[4] - '0';
            const std::string& v = versions[static_cast<std::size_t>(digit)];
            const char shown = static_cast<char>('0' + (faults.versionWrongPrefix ? (digit + 1) % kSimComponentCount : digit));
            a.body = std::string("qSV") + shown;
            if (faults.versionShort)
                a.body += v.substr(0, 3);
            else
                a.body += std::string(" ") + kVersionLabels[digit] + " " + v + " r01";
        } else {
            a.status = 404;
            a.body = "Not Found";
        }
        return a;
    }

    Answer busyAnswer(SimRequestKind kind) const
    {
        Answer a;
        if (busyMode == SimBusyMode::CloseConnection) {
            a.close = true;
        } else if (busyMode == SimBusyMode::Silent) {
            a.hold = true;
        } else if (busyMode == SimBusyMode::QidAnswer && kind == SimRequestKind::ModelInquiry) {
            a.body = "QID:RESTARTING";
        } else {
            a.status = 503;
            a.body = "Service Unavailable";
        }
        return a;
    }

    // Decides on an upload; on acceptance starts the restart. Caller saves the file.
    Answer judgeUpload(const httplib::Request& req, SimUpload& up)
    {
        std::lock_guard<std::mutex> lock(m);
        if (busyLocked())
            return busyAnswer(SimRequestKind::Upload);
        Answer a;
        a.contentType = "text/html";
        if (req.path != uploadPath()) {
            a.status = 404;
            a.body = "<html><body><p>404 Not Found</p></body></html>\r\n";
            return a;
        }
        const std::string auth = req.get_header_value("Authorization");
        const std::string expected = base64(user + ":" + password);
        if (faults.rejectCredentials || !startsWithNoCase(auth, "Basic ") || trimmed(auth.substr(6)) != expected) {
            a.status = 401;
            a.body = "<html><body><p>401 Unauthorized</p></body></html>\r\n";
            a.challenge = true;
            return a;
        }

        std::string wanted = "fw_path";
        if (isTkd7Family(model)) {
            const SimPart* chk = findPart(up, "chk_file");
            wanted = !chk ? "" : chk->content == "1" ? "file_soft" : chk->content == "0" ? "file_camera" : "";
        } else {
            const SimPart* type = findPart(up, "fw_type");
            if (!type || type->content.size() != 1 || type->content[0] < '0' || type->content[0] > '9')
                wanted.clear();
        }
        const SimPart* fw = wanted.empty() ? nullptr : findPart(up, wanted);
        if (!fw || fw->filename.empty() || fw->size == 0) {
            a.status = 400;
            a.body = "<html><body><p>400 Bad Request</p></body></html>\r\n";
            return a;
        }
        up.firmwarePart = fw->name;
        up.firmwareName = fw->filename;
        readFirmwareHeader(fw->content, up);

        if (faults.upload == SimUploadFault::ServerError) {
            a.status = 500;
            a.body = "<html><body><p>500 Internal Server Error</p></body></html>\r\n";
            return a;
        }
        if (faults.upload == SimUploadFault::Refuse) {
            a.body = kRefused;
            return a;
        }
        up.accepted = true;
        busy = true;
        busyForever = faults.upload == SimUploadFault::NeverReturn;
        busyUntil = Clock::now() + restartTime;
        pendingVersion.reset();
        const int component = simComponentFromName(up.component);
        if (component >= 0 && !up.version.empty())
            pendingVersion = std::make_pair(component, up.version);
        a.body = isTkd7Family(model) ? kAcceptedOld : kAcceptedNew;
        return a;
    }

    static const SimPart* findPart(const SimUpload& up, const std::string& name)
    {
        for (const SimPart& p : up.parts) {
            if (p.name == name)
                return &p;
        }
        return nullptr;
    }

    // First line "KELVORA-SIM-FW component=<name> version=<Vxx.yy>".
    static void readFirmwareHeader(const std::string& content, SimUpload& up)
    {
        if (content.compare(0, std::strlen(kFirmwareMagic), kFirmwareMagic) != 0)
            return;
        const std::string line = content.substr(0, content.find('\n'));
        std::size_t at = 0;
        while (at < line.size()) {
            auto end = line.find(' ', at);
            if (end == std::string::npos)
                end = line.size();
            const std::string word = trimmed(line.substr(at, end - at));
            if (word.compare(0, 10, "component=") == 0)
                up.component = word.substr(10);
            else if (word.compare(0, 8, "version=") == 0)
                up.version = word.substr(8);
            at = end + 1;
        }
    }

    void save(SimUpload& up, std::uint64_t seq, Spool& spool)
    {
        std::string dir;
        {
            std::lock_guard<std::mutex> lock(m);
            dir = saveDir;
        }
        const SimPart* fw = findPart(up, up.firmwarePart);
        if (dir.empty() || !fw)
            return;
        std::string name = fw->filename.substr(fw->filename.find_last_of("/\\") + 1);
        if (name.empty() || name == "." || name == "..")
            name = "upload-" + std::to_string(seq) + ".bin";
        const std::string path = dir + "/" + name;
        const auto index = static_cast<std::size_t>(fw - up.parts.data());
        if (index < spool.paths.size() && !spool.paths[index].empty()) {
            if (std::rename(spool.paths[index].c_str(), path.c_str()) == 0) {
                spool.paths[index].clear();
                up.savedPath = path;
            }
            return;
        }
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(fw->content.data(), static_cast<std::streamsize>(fw->content.size()));
        if (out.good())
            up.savedPath = path;
    }

    // Keeps a silent request's connection open unanswered until the client gives up; the
    // loop holds it once the request's fiber is done (see park()).
    void hold(SimConnection* conn, std::uint64_t seq, std::shared_ptr<SimUpload> up)
    {
        bool room;
        {
            std::lock_guard<std::mutex> lock(m);
            room = conn && held < kMaxHeldRequests;
            if (room) {
                ++held;
                for (auto it = log.rbegin(); it != log.rend(); ++it) {
                    if (it->seq == seq) {
                        it->held = true;
                        break;
                    }
                }
            }
        }
        if (room) {
            conn->holdUnanswered(seq, std::move(up));
            return;
        }
        finish(seq, 0, {}, up);
        if (conn)
            conn->abort();
    }

    // An upload answered from its head alone; empty when the fault does not apply.
    std::string earlyAnswer(const httplib::Request& req)
    {
        std::lock_guard<std::mutex> lock(m);
        if (faults.upload != SimUploadFault::AnswerEarly || req.path != uploadPath() || busyLocked())
            return {};
        return isTkd7Family(model) ? kAcceptedOld : kAcceptedNew;
    }

    bool silent(SimRequestKind kind)
    {
        std::lock_guard<std::mutex> lock(m);
        return (kind == SimRequestKind::ModelInquiry && faults.silentModel)
            || (kind == SimRequestKind::VersionInquiry && faults.silentVersion)
            || (kind == SimRequestKind::Upload && faults.silentUpload)
            || (kind == SimRequestKind::Other && faults.silentOther);
    }

    void dropContentUnlessKept(SimUpload* up)
    {
        {
            std::lock_guard<std::mutex> lock(m);
            if (!up || keepContent)
                return;
        }
        for (SimPart& p : up->parts)
            std::string().swap(p.content);
    }

    void handle(const httplib::Request& req, httplib::Response& res, const httplib::ContentReader* reader)
    {
        SimConnection* conn = SimConnection::current();
        const std::uint64_t seq = conn ? conn->seq() : 0;
        const SimRequestKind kind = classify(req);

        std::shared_ptr<SimUpload> up;
        bool parsed = true;
        Spool spool;
        if (req.method == "POST") {
            const std::string early = conn ? conn->earlyAnswer() : std::string();
            if (!early.empty()) {
                up = std::make_shared<SimUpload>();
                up->bodySize = conn->bodyBytes();
                up->bodyRecorded = conn->recordsBody();
                up->body = conn->takeBody();
                res.set_content(early, "text/html");
                finish(seq, 200, early, up);
                return;
            }
            up = receive(req, reader, conn, parsed, spool);
            if (conn && conn->dropped()) {
                dropContentUnlessKept(up.get());
                finish(seq, 0, {}, up);
                conn->abort();
                return;
            }
        }
        if (silent(kind)) {
            dropContentUnlessKept(up.get());
            hold(conn, seq, up);
            return;
        }

        int delay = 0;
        {
            std::lock_guard<std::mutex> lock(m);
            delay = kind == SimRequestKind::ModelInquiry ? faults.modelDelayMs
                : kind == SimRequestKind::VersionInquiry ? faults.versionDelayMs
                : kind == SimRequestKind::Upload         ? faults.uploadDelayMs
                                                         : 0;
        }
        pause(conn, delay);

        Answer a;
        if (stopping) {
            a.close = true;
        } else if (!up) {
            a = inquiry(req, kind);
        } else if (!parsed) {
            a.status = 400;
            a.body = "Bad Request";
        } else {
            a = judgeUpload(req, *up);
            if (up->accepted)
                save(*up, seq, spool);
        }
        dropContentUnlessKept(up.get());

        if (a.hold) {
            hold(conn, seq, up);
            return;
        }
        if (a.close) {
            finish(seq, 0, {}, up);
            if (conn)
                conn->abort();
            return;
        }
        res.status = a.status;
        if (a.challenge)
            res.set_header("WWW-Authenticate", "Basic realm=\"QV camera\"");
        res.set_content(a.body, a.contentType);
        finish(seq, a.status, a.body, up);
    }
};

// httplib's request handling under the sim's own accept loop and connection loop, so
// that every connection is counted and every request is read through a recording
// SimConnection.
class CameraSim::Impl::Server final : public httplib::Server {
public:
    explicit Server(Impl& impl) : impl_(impl)
    {
        // Announced in every answer's Keep-Alive header.
        set_keep_alive_max_count(kKeepAliveMaxRequests);
        set_keep_alive_timeout(kKeepAliveTimeoutMs / 1000);
        Get(".*", [this](const httplib::Request& req, httplib::Response& res) { impl_.handle(req, res, nullptr); });
        Post(".*", [this](const httplib::Request& req, httplib::Response& res, const httplib::ContentReader& reader) {
            impl_.handle(req, res, &reader);
        });
    }

    // On a fiber: the connection's requests for as long as their bytes keep coming without a
    // wait on the loop; afterwards conn->next says what the loop does with it.
    void serveRequests(SimConnection& conn)
    {
        do {
            conn.beginRequest(impl_.recordRaw, impl_.readRate());
            bool closed = false;
            const bool ok = process_request(conn, conn.served + 1 == kKeepAliveMaxRequests, closed,
                                            [this](httplib::Request& req) { impl_.onRequestStart(req); });
            ++conn.served;
            if (conn.holding()) {
                conn.next = SimConnection::Next::Hold;
                return;
            }
            if (!ok || closed || conn.aborted() || !conn.earlyAnswer().empty() || conn.served >= kKeepAliveMaxRequests
                || impl_.stopping) {
                conn.next = SimConnection::Next::Close;
                return;
            }
        } while (conn.hasBuffered());
        conn.next = SimConnection::Next::Idle;
    }

private:
    Impl& impl_;
};

void CameraSim::Impl::serve(SimConnection* conn)
{
    conn->state = SimConnection::State::Running;
    const bool spawned = loop->spawn(
        conn, [this, conn] { server->serveRequests(*conn); },
        [this, conn] {
            switch (conn->next) {
            case SimConnection::Next::Idle: idle(conn); break;
            case SimConnection::Next::Hold: park(conn); break;
            case SimConnection::Next::Close: closeConnection(conn); break;
            }
        });
    if (!spawned)
        closeConnection(conn); // no memory for the request's stack
}

CameraSim::CameraSim() : d(std::make_unique<Impl>())
{
    d->loadProfile(CAM_MODELID_QV_TK300);
}

CameraSim::~CameraSim()
{
    stop();
}

int CameraSim::start(int port, const std::string& bindAddress)
{
    stop();
    const int sock = Impl::listenOn(bindAddress, port);
    if (sock < 0)
        return -1;
    sockaddr_storage addr{};
    socklen_t len = sizeof(addr);
    ::getsockname(sock, reinterpret_cast<sockaddr*>(&addr), &len);
    const int bound = addr.ss_family == AF_INET6 ? ntohs(reinterpret_cast<const sockaddr_in6*>(&addr)->sin6_port)
                                                 : ntohs(reinterpret_cast<const sockaddr_in*>(&addr)->sin_port);
    d->stopping = false;
    d->ended = false;
    d->port = bound;
    d->bindAddress = bindAddress;
    d->server = std::make_unique<Impl::Server>(*d);
    d->hub = simloop::Hub::acquire();
    d->loop = &d->hub->attach();
    {
        std::lock_guard<std::mutex> lock(d->connM);
        d->listenSock = sock;
    }
    d->loop->post([impl = d.get()] { impl->listen(); });
    return bound;
}

void CameraSim::stop()
{
    if (!d->loop)
        return;
    {
        std::lock_guard<std::mutex> lock(d->m);
        d->stopping = true;
    }
    d->loop->post([impl = d.get()] { impl->shutDown(); });
    {
        // Bounded by the requests' own ends: every wait of theirs has ended by now.
        std::unique_lock<std::mutex> lock(d->stopM);
        d->stopped.wait(lock, [this] { return d->ended; });
    }
    d->hub->detach(*d->loop);
    d->loop = nullptr;
    d->hub.reset();
    d->server.reset();
    d->port = -1;
}

bool CameraSim::isRunning() const
{
    return d->loop != nullptr;
}

int CameraSim::port() const
{
    return d->port;
}

std::string CameraSim::address() const
{
    return d->bindAddress + ":" + std::to_string(d->port);
}

bool CameraSim::setModel(int modelId)
{
    if (!simProfile(modelId))
        return false;
    std::lock_guard<std::mutex> lock(d->m);
    d->loadProfile(modelId);
    return true;
}

bool CameraSim::setModel(const std::string& name)
{
    return setModel(simModelFromText(name));
}

int CameraSim::model() const
{
    std::lock_guard<std::mutex> lock(d->m);
    return d->model;
}

std::string CameraSim::version(int qsv) const
{
    std::lock_guard<std::mutex> lock(d->m);
    d->busyLocked();
    return qsv >= 0 && qsv < kSimComponentCount ? d->versions[static_cast<std::size_t>(qsv)] : std::string();
}

void CameraSim::setVersion(int qsv, const std::string& version)
{
    std::lock_guard<std::mutex> lock(d->m);
    if (qsv >= 0 && qsv < kSimComponentCount)
        d->versions[static_cast<std::size_t>(qsv)] = version;
}

void CameraSim::setCredentials(const std::string& user, const std::string& password)
{
    std::lock_guard<std::mutex> lock(d->m);
    d->user = user;
    d->password = password;
}

void CameraSim::setFaults(const SimFaults& faults)
{
    std::lock_guard<std::mutex> lock(d->m);
    d->faults = faults;
}

SimFaults CameraSim::faults() const
{
    std::lock_guard<std::mutex> lock(d->m);
    return d->faults;
}

void CameraSim::setRestartTime(std::chrono::milliseconds busy)
{
    std::lock_guard<std::mutex> lock(d->m);
    d->restartTime = busy;
}

void CameraSim::setBusyMode(SimBusyMode mode)
{
    std::lock_guard<std::mutex> lock(d->m);
    d->busyMode = mode;
}

bool CameraSim::isRestarting() const
{
    std::lock_guard<std::mutex> lock(d->m);
    return d->busyLocked();
}

void CameraSim::finishRestartNow()
{
    std::lock_guard<std::mutex> lock(d->m);
    if (d->busy)
        d->endRestartLocked();
}

void CameraSim::setSaveDirectory(const std::string& dir)
{
    std::lock_guard<std::mutex> lock(d->m);
    d->saveDir = dir;
}

void CameraSim::setRecordRawBodies(bool on)
{
    d->recordRaw = on;
}

void CameraSim::setKeepUploadContent(bool on)
{
    std::lock_guard<std::mutex> lock(d->m);
    d->keepContent = on;
}

std::vector<SimRequest> CameraSim::requests() const
{
    std::lock_guard<std::mutex> lock(d->m);
    return d->log;
}

std::vector<SimRequest> CameraSim::uploads() const
{
    std::lock_guard<std::mutex> lock(d->m);
    std::vector<SimRequest> out;
    for (const SimRequest& r : d->log) {
        if (r.kind == SimRequestKind::Upload)
            out.push_back(r);
    }
    return out;
}

std::size_t CameraSim::heldRequests() const
{
    std::lock_guard<std::mutex> lock(d->m);
    return d->held;
}

std::uint64_t CameraSim::bytesReceived() const
{
    return d->bytesReceived();
}

void CameraSim::clearLog()
{
    std::lock_guard<std::mutex> lock(d->m);
    d->log.clear();
}

void CameraSim::setRequestObserver(std::function<void(const SimRequest&)> observer)
{
    std::lock_guard<std::mutex> lock(d->m);
    d->observer = std::move(observer);
}

std::string simBasicAuthorization(const std::string& user, const std::string& password)
{
    return "Basic " + base64(user + ":" + password);
}
