#include "sim/camerasim.h"

#include "camera/caminfo.h"

#include <httplib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <optional>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kKeepAliveMaxRequests = 100;
constexpr int kKeepAliveTimeoutMs = 5000;
constexpr int kIoTimeoutMs = 5000;
constexpr int kPollSliceMs = 50;
constexpr std::size_t kServerThreads = 16;

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

// One accepted connection. Reads go through a small buffer and every byte handed to
// httplib is recorded, so each request's head and body can be kept exactly as sent.
class SimConnection final : public httplib::Stream {
public:
    SimConnection(int sock, const std::atomic<bool>& stopping) : sock_(sock), stopping_(stopping), buf_(64 * 1024) {}

    static SimConnection*& current()
    {
        thread_local SimConnection* conn = nullptr;
        return conn;
    }

    bool is_readable() const override { return pos_ < len_ || waitFor(POLLIN, kIoTimeoutMs); }
    bool is_writable() const override { return !aborted_ && waitFor(POLLOUT, kIoTimeoutMs); }

    ssize_t read(char* ptr, std::size_t size) override
    {
        if (aborted_)
            return -1;
        // The handler logs the request before it closes the connection.
        if (dropAt_ && bodyBytes_ >= *dropAt_)
            return -1;
        if (pos_ == len_) {
            if (!waitFor(POLLIN, kIoTimeoutMs))
                return -1;
            // Acknowledge at once: clients that send head and body in two writes would
            // otherwise wait out the delayed ACK on every upload.
            const int one = 1;
            ::setsockopt(sock_, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof(one));
            ssize_t n;
            do {
                n = ::recv(sock_, buf_.data(), buf_.size(), 0);
            } while (n < 0 && errno == EINTR);
            if (n <= 0)
                return n;
            pos_ = 0;
            len_ = static_cast<std::size_t>(n);
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
            if (aborted_ || !waitFor(POLLOUT, kIoTimeoutMs))
                return -1;
            const ssize_t n = ::send(sock_, ptr + done, size - done, MSG_NOSIGNAL);
            if (n < 0) {
                if (errno == EINTR || errno == EAGAIN)
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

    // Keep-alive wait for the next request; false on time-out or stop.
    bool waitForRequest() const { return pos_ < len_ || waitFor(POLLIN, kKeepAliveTimeoutMs); }

    void beginRequest(bool recordBody)
    {
        record_.clear();
        headEnd_ = std::string::npos;
        bodyBytes_ = 0;
        recordBody_ = recordBody;
        dropAt_.reset();
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
        ::shutdown(sock_, SHUT_RDWR);
    }
    bool aborted() const { return aborted_; }

    void setSeq(std::uint64_t seq) { seq_ = seq; }
    std::uint64_t seq() const { return seq_; }

private:
    bool waitFor(short events, int timeoutMs) const
    {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!stopping_) {
            pollfd p{sock_, events, 0};
            const int r = ::poll(&p, 1, kPollSliceMs);
            if (r > 0)
                return true;
            if ((r < 0 && errno != EINTR) || Clock::now() >= deadline)
                return false;
        }
        return false;
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
    const std::atomic<bool>& stopping_;
    std::vector<char> buf_;
    std::size_t pos_ = 0;
    std::size_t len_ = 0;
    std::string record_;
    std::size_t headEnd_ = std::string::npos;
    std::size_t bodyBytes_ = 0;
    bool recordBody_ = true;
    std::optional<std::size_t> dropAt_;
    bool aborted_ = false;
    std::uint64_t seq_ = 0;
};

struct Answer {
    int status = 200;
    std::string body;
    std::string contentType = "text/plain";
    bool close = false; // close the connection without answering
    bool challenge = false;
};

} // namespace

struct CameraSim::Impl {
    class Server;

    mutable std::mutex m;
    std::condition_variable wake;
    std::atomic<bool> stopping{false};
    std::atomic<bool> recordRaw{true};

    std::unique_ptr<Server> server;
    std::thread listener;
    int port = -1;
    std::string bindAddress;

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

    void pause(int ms)
    {
        if (ms <= 0)
            return;
        std::unique_lock<std::mutex> lock(m);
        wake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping.load(); });
    }

    std::shared_ptr<SimUpload> receive(const httplib::Request& req, const httplib::ContentReader* reader,
                                       SimConnection* conn, bool& parsed)
    {
        auto up = std::make_shared<SimUpload>();
        bool whole = true;
        {
            std::lock_guard<std::mutex> lock(m);
            if (conn && faults.upload == SimUploadFault::DropConnection && req.path == uploadPath() && !busyLocked())
                conn->dropAfterBodyBytes(faults.dropAfterBodyBytes);
            whole = keepContent || !saveDir.empty();
        }
        // Files arrive in small chunks; reserving avoids a string twice the file's size.
        const std::size_t reserve =
            std::min<std::size_t>(std::strtoull(req.get_header_value("Content-Length").c_str(), nullptr, 10), 1u << 30);
        parsed = true;
        if (reader && req.is_multipart_form_data()) {
            parsed = (*reader)(
                [&](const httplib::MultipartFormData& f) {
                    up->parts.push_back(SimPart{f.name, f.filename, f.content_type, {}, 0});
                    if (whole && !f.filename.empty())
                        up->parts.back().content.reserve(reserve);
                    return true;
                },
                [&](const char* data, std::size_t n) {
                    if (up->parts.empty())
                        return false;
                    SimPart& p = up->parts.back();
                    // Without keeping or saving, only the first line matters.
                    const std::size_t take = whole ? n : std::min(n, kFirmwareHeadBytes - std::min(kFirmwareHeadBytes, p.content.size()));
                    p.content.append(data, take);
                    p.size += n;
                    return true;
                });
        } else if (reader) {
            parsed = (*reader)([](const char*, std::size_t) { return true; });
        }
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

    void save(SimUpload& up, std::uint64_t seq)
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
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(fw->content.data(), static_cast<std::streamsize>(fw->content.size()));
        if (out.good())
            up.savedPath = path;
    }

    void handle(const httplib::Request& req, httplib::Response& res, const httplib::ContentReader* reader)
    {
        SimConnection* conn = SimConnection::current();
        const std::uint64_t seq = conn ? conn->seq() : 0;
        const SimRequestKind kind = classify(req);

        std::shared_ptr<SimUpload> up;
        bool parsed = true;
        if (req.method == "POST") {
            up = receive(req, reader, conn, parsed);
            if (conn && conn->dropped()) {
                finish(seq, 0, {}, up);
                conn->abort();
                return;
            }
        }

        int delay = 0;
        {
            std::lock_guard<std::mutex> lock(m);
            delay = kind == SimRequestKind::ModelInquiry ? faults.modelDelayMs
                : kind == SimRequestKind::VersionInquiry ? faults.versionDelayMs
                : kind == SimRequestKind::Upload         ? faults.uploadDelayMs
                                                         : 0;
        }
        pause(delay);

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
                save(*up, seq);
        }
        if (up) {
            bool keep;
            {
                std::lock_guard<std::mutex> lock(m);
                keep = keepContent;
            }
            if (!keep) {
                for (SimPart& p : up->parts)
                    std::string().swap(p.content);
            }
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

// httplib's server with its own connection loop, so that every request is read
// through a recording SimConnection.
class CameraSim::Impl::Server final : public httplib::Server {
public:
    explicit Server(Impl& impl) : impl_(impl)
    {
        new_task_queue = [] { return new httplib::ThreadPool(kServerThreads); };
        // httplib's default adds SO_REUSEPORT, which would let two cameras share a port.
        set_socket_options([](socket_t sock) {
            const int one = 1;
            ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
        });
        set_keep_alive_max_count(kKeepAliveMaxRequests);
        set_keep_alive_timeout(kKeepAliveTimeoutMs / 1000);
        Get(".*", [this](const httplib::Request& req, httplib::Response& res) { impl_.handle(req, res, nullptr); });
        Post(".*", [this](const httplib::Request& req, httplib::Response& res, const httplib::ContentReader& reader) {
            impl_.handle(req, res, &reader);
        });
    }

private:
    bool process_and_close_socket(socket_t sock) override
    {
        // Headers and body go out in separate writes; without this each answer waits
        // for the client's delayed ACK.
        const int one = 1;
        ::setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
        SimConnection conn(sock, impl_.stopping);
        SimConnection::current() = &conn;
        bool ok = true;
        for (int i = 0; ok && i < kKeepAliveMaxRequests && !impl_.stopping; ++i) {
            if (!conn.waitForRequest())
                break;
            conn.beginRequest(impl_.recordRaw);
            bool closed = false;
            ok = process_request(conn, i + 1 == kKeepAliveMaxRequests, closed,
                                 [this](httplib::Request& req) { impl_.onRequestStart(req); });
            if (closed || conn.aborted())
                break;
        }
        SimConnection::current() = nullptr;
        ::shutdown(sock, SHUT_RDWR);
        ::close(sock);
        return ok;
    }

    Impl& impl_;
};

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
    d->stopping = false;
    auto server = std::make_unique<Impl::Server>(*d);
    int bound = -1;
    if (port == 0)
        bound = server->bind_to_any_port(bindAddress);
    else if (server->bind_to_port(bindAddress, port))
        bound = port;
    if (bound <= 0)
        return -1;
    Impl::Server* raw = server.get();
    d->listener = std::thread([raw] { raw->listen_after_bind(); });
    // stop() only reaches a server that has entered its accept loop.
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (!raw->is_running() && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    d->server = std::move(server);
    d->port = bound;
    d->bindAddress = bindAddress;
    return bound;
}

void CameraSim::stop()
{
    if (!d->server)
        return;
    {
        std::lock_guard<std::mutex> lock(d->m);
        d->stopping = true;
    }
    d->wake.notify_all();
    d->server->stop();
    if (d->listener.joinable())
        d->listener.join();
    d->server.reset();
    d->port = -1;
}

bool CameraSim::isRunning() const
{
    return d->server && d->server->is_running();
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
