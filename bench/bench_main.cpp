// kelvora-bench: runs the tool's upload, inquiry, start-up and fleet paths side by side with
// a reference (curl, a minimal Qt window, one camera) in the same run, several rounds each,
// and the window's run of a whole set for its memory, and prints one table of median times
// and ratios. A new part is a function returning its rows, a name in kParts and a line in main. Every measured program is a fresh process started
// and waited for here; the discard sink and the simulated camera run in this process, the
// fleet's simulated cameras in a kelvora-camsim process of their own.
//
//   kelvora-bench [--rounds N] [--sizes MB,MB,...] [--only upload|window-run|inquiry|start-up|fleet|scale|many-cameras]
//   kelvora-bench --sink    (only the discard sink, for profiling a client by hand)
//
// Temporary files live in one directory under $TMPDIR (or /tmp) and are removed on exit,
// also on SIGINT/SIGTERM, which first end the program being measured.
#include "bench/sink.h"
#include "camera/caminfo.h"
#include "sim/camerasim.h"
#include "sim/samplefolder.h"
#include "update/uploadplan.h"
#include "update/uploadrequest.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iterator>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

constexpr double kMiB = 1024.0 * 1024.0;

// ---- Clean-up that also runs on SIGINT/SIGTERM ----

char g_tempDir[4096] = "";
constexpr int kMaxTempFiles = 32;
char g_tempFiles[kMaxTempFiles][4096];
volatile sig_atomic_t g_tempFileCount = 0;
volatile pid_t g_child = 0;
volatile pid_t g_server = 0; // a program that runs beside the measured ones (the simulated cameras)

void removeTempFiles()
{
    for (int i = 0; i < g_tempFileCount; ++i)
        ::unlink(g_tempFiles[i]);
    g_tempFileCount = 0;
    if (g_tempDir[0])
        ::rmdir(g_tempDir);
    g_tempDir[0] = '\0';
}

void onSignal(int sig)
{
    if (g_child > 0) {
        ::kill(g_child, SIGKILL);
        ::waitpid(g_child, nullptr, 0);
    }
    if (g_server > 0) {
        ::kill(g_server, SIGKILL);
        ::waitpid(g_server, nullptr, 0);
    }
    removeTempFiles();
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}

std::string tempPath(const std::string& name)
{
    std::string path = std::string(g_tempDir) + "/" + name;
    if (g_tempFileCount < kMaxTempFiles) {
        std::snprintf(g_tempFiles[g_tempFileCount], sizeof g_tempFiles[0], "%s", path.c_str());
        g_tempFileCount = g_tempFileCount + 1;
    }
    return path;
}

void removeTempFile(const std::string& path)
{
    ::unlink(path.c_str());
}

// ---- Running one measured process ----

struct Run {
    bool ok = false;
    double seconds = 0;   // from spawn to reaped
    long maxRssKib = 0;   // getrusage of the child
    double cpuSeconds = 0; // the child's user + system time, from the same rusage
    std::string out;      // its standard output
};

std::string selfDir()
{
    char buf[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0)
        return ".";
    buf[n] = '\0';
    std::string p(buf);
    return p.substr(0, p.rfind('/'));
}

std::optional<std::string> findInPath(const char* name)
{
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        const std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return std::nullopt;
}

// Starts argv with stdin and stderr on /dev/null and stdout on a pipe; *readEnd gets the
// pipe's end to read. Returns the process id, or 0 when it could not be started.
pid_t spawnCaptured(const std::vector<std::string>& argv, int* readEnd)
{
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        return 0;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, args[0], &fa, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    ::close(out[1]);
    if (spawned != 0) {
        ::close(out[0]);
        std::fprintf(stderr, "kelvora-bench: cannot start %s: %s\n", args[0], std::strerror(spawned));
        return 0;
    }
    *readEnd = out[0];
    return pid;
}

// Runs argv with stdin and stderr on /dev/null and stdout captured; kills it after timeoutSec.
// `expected`: the exit status of a run that went as it should.
Run runProcess(const std::vector<std::string>& argv, double timeoutSec, int expected = 0)
{
    Run r;
    int out = -1;
    const auto t0 = std::chrono::steady_clock::now();
    const pid_t pid = spawnCaptured(argv, &out);
    if (pid == 0)
        return r;
    g_child = pid;
    const auto deadline = t0 + std::chrono::duration<double>(timeoutSec);
    bool timedOut = false;
    char buf[4096];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            timedOut = true;
            break;
        }
        pollfd p{out, POLLIN, 0};
        const int ready = ::poll(&p, 1, int(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0) {
            timedOut = ready == 0;
            break;
        }
        const ssize_t n = ::read(out, buf, sizeof buf);
        if (n <= 0)
            break;
        r.out.append(buf, std::size_t(n));
    }
    ::close(out);
    if (timedOut)
        ::kill(pid, SIGKILL);
    int status = 0;
    rusage usage{};
    while (::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    const auto t1 = std::chrono::steady_clock::now();
    g_child = 0;
    r.seconds = std::chrono::duration<double>(t1 - t0).count();
    r.maxRssKib = usage.ru_maxrss;
    r.cpuSeconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    r.ok = !timedOut && WIFEXITED(status) && WEXITSTATUS(status) == expected;
    if (!r.ok)
        std::fprintf(stderr, "kelvora-bench: %s %s (status %d)\n", argv[0].c_str(), timedOut ? "timed out" : "failed",
                     WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status));
    return r;
}

// A program that runs beside the measured ones (one at a time) until stopServer.
struct Server {
    pid_t pid = 0;
    int out = -1;
    std::vector<std::string> lines; // the announced lines, without their prefix
};

void stopServer(Server& s)
{
    if (s.pid > 0) {
        ::kill(s.pid, SIGTERM);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (::waitpid(s.pid, nullptr, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                ::kill(s.pid, SIGKILL);
                ::waitpid(s.pid, nullptr, 0);
                break;
            }
            ::usleep(20000);
        }
    }
    g_server = 0;
    s.pid = 0;
    if (s.out >= 0)
        ::close(s.out);
    s.out = -1;
}

// Starts argv and reads its output until `count` lines starting with `prefix` have come,
// within timeoutSec; nullopt (and the program ended) otherwise.
std::optional<Server> startServer(const std::vector<std::string>& argv, const std::string& prefix, std::size_t count,
                                  double timeoutSec)
{
    Server s;
    s.pid = spawnCaptured(argv, &s.out);
    if (s.pid == 0)
        return std::nullopt;
    g_server = s.pid;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSec);
    std::string text;
    char buf[4096];
    while (s.lines.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd p{s.out, POLLIN, 0};
        const int ready = left.count() > 0 ? ::poll(&p, 1, int(left.count())) : 0;
        if (ready < 0 && errno == EINTR)
            continue;
        const ssize_t n = ready > 0 ? ::read(s.out, buf, sizeof buf) : 0;
        if (n <= 0) {
            std::fprintf(stderr, "kelvora-bench: %s did not start\n", argv[0].c_str());
            stopServer(s);
            return std::nullopt;
        }
        text.append(buf, std::size_t(n));
        for (std::size_t end; (end = text.find('\n')) != std::string::npos; text.erase(0, end + 1)) {
            if (text.compare(0, prefix.size(), prefix) == 0)
                s.lines.push_back(text.substr(prefix.size(), end - prefix.size()));
        }
    }
    return s;
}

// "key=value" from a program's output line; empty when absent.
std::string field(const std::string& out, const std::string& key)
{
    const std::string k = key + "=";
    std::size_t at = out.find(k);
    if (at == std::string::npos)
        return {};
    at += k.size();
    return out.substr(at, out.find_first_of(" \n", at) - at);
}

double median(std::vector<double> v)
{
    if (v.empty())
        return std::nan("");
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Runs each measure `rounds` times after one untimed warm-up of each, rotating which goes
// first so that none is always measured right after another. measures[0] is ours, the
// rest are references. Each measure returns seconds, or nullopt on failure.
using Measure = std::function<std::optional<double>()>;
struct Rounds {
    std::vector<std::vector<double>> times; // per measure, per round
    bool ok = true;
    // Median over rounds of ours / reference k, each ratio taken within one round.
    double ratio(std::size_t k) const
    {
        std::vector<double> r;
        for (std::size_t i = 0; i < times[0].size(); ++i)
            r.push_back(times[0][i] / times[k][i]);
        return median(r);
    }
    double medianTime(std::size_t k) const { return median(times[k]); }
};

Rounds measureRounds(int rounds, const std::vector<Measure>& measures)
{
    Rounds r;
    r.times.resize(measures.size());
    for (const Measure& m : measures) {
        if (!m()) {
            r.ok = false;
            return r;
        }
    }
    const std::size_t n = measures.size();
    for (int i = 0; i < rounds; ++i) {
        for (std::size_t j = 0; j < n; ++j) {
            const std::size_t k = (std::size_t(i) + j) % n;
            const std::optional<double> t = measures[k]();
            if (!t || *t <= 0) {
                r.ok = false;
                return r;
            }
            r.times[k].push_back(*t);
        }
    }
    return r;
}

// ---- Files ----

// `bytes` in all: firstLine, then incompressible, reproducible content.
bool writeFirmware(const std::string& path, std::int64_t bytes, const std::string& firstLine = {})
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    std::uint64_t x = 0x9E3779B97F4A7C15ull;
    std::vector<std::uint64_t> chunk(512 * 1024);
    std::int64_t left = bytes - std::int64_t(firstLine.size());
    bool ok = std::fwrite(firstLine.data(), 1, firstLine.size(), f) == firstLine.size();
    while (left > 0 && ok) {
        for (std::uint64_t& w : chunk) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            w = x;
        }
        const std::size_t n = std::size_t(std::min<std::int64_t>(left, std::int64_t(chunk.size() * 8)));
        ok = std::fwrite(chunk.data(), 1, n, f) == n;
        left -= std::int64_t(n);
    }
    return std::fclose(f) == 0 && ok;
}

// The body the tool sends for this file, written out for curl: the tool's framing around the file.
bool writeBody(const std::string& bodyPath, const std::string& firmwarePath, const QByteArray& head,
               const QByteArray& tail)
{
    std::FILE* in = std::fopen(firmwarePath.c_str(), "rb");
    std::FILE* out = std::fopen(bodyPath.c_str(), "wb");
    bool ok = in && out && std::fwrite(head.constData(), 1, std::size_t(head.size()), out) == std::size_t(head.size());
    std::vector<char> buf(4 * 1024 * 1024);
    while (ok) {
        const std::size_t n = std::fread(buf.data(), 1, buf.size(), in);
        if (n == 0)
            break;
        ok = std::fwrite(buf.data(), 1, n, out) == n;
    }
    ok = ok && std::fwrite(tail.constData(), 1, std::size_t(tail.size()), out) == std::size_t(tail.size());
    if (in)
        std::fclose(in);
    if (out && std::fclose(out) != 0)
        ok = false;
    return ok;
}

// ---- The table ----

struct Row {
    std::string name;
    std::string ours;
    std::string ref;
    std::string ratio;
    std::string goal;
    std::string met;
    std::string memory;
    std::string note;
    std::string cpu; // CPU time of our process, where a row measures it
};

std::string fmt(const char* f, ...) __attribute__((format(printf, 1, 2)));
std::string fmt(const char* f, ...)
{
    char buf[512];
    va_list ap;
    va_start(ap, f);
    std::vsnprintf(buf, sizeof buf, f, ap);
    va_end(ap);
    return buf;
}

// Display width: every UTF-8 sequence counts as one column.
std::size_t columns(const std::string& s)
{
    std::size_t n = 0;
    for (unsigned char c : s)
        n += (c & 0xC0) != 0x80;
    return n;
}

void printTable(const std::vector<Row>& rows)
{
    const std::vector<std::string> head{"Benchmark", "Ours (median)", "Reference (median)", "Ratio", "Goal", "Met",
                                        "Peak RSS, ours", "CPU, ours", "Also measured"};
    std::vector<std::vector<std::string>> cells{head};
    for (const Row& r : rows)
        cells.push_back({r.name, r.ours, r.ref, r.ratio, r.goal, r.met, r.memory, r.cpu, r.note});
    std::vector<std::size_t> width(head.size(), 0);
    for (const auto& line : cells)
        for (std::size_t i = 0; i < line.size(); ++i)
            width[i] = std::max(width[i], columns(line[i]));
    auto printLine = [&](const std::vector<std::string>& line) {
        std::string s = "|";
        for (std::size_t i = 0; i < line.size(); ++i)
            s += " " + line[i] + std::string(width[i] - columns(line[i]), ' ') + " |";
        std::printf("%s\n", s.c_str());
    };
    printLine(cells[0]);
    std::string rule = "|";
    for (std::size_t w : width)
        rule += std::string(w + 2, '-') + "|";
    std::printf("%s\n", rule.c_str());
    for (std::size_t i = 1; i < cells.size(); ++i)
        printLine(cells[i]);
}

// ---- The three benchmarks ----

// The parts of the bench, in the order they run; --only picks one.
const std::string kParts[] = {"upload", "window-run", "inquiry", "start-up", "fleet", "scale", "many-cameras"};

struct Options {
    int uploadRounds = 7;
    int inquiryRounds = 15;
    int startupRounds = 15;
    int fleetRounds = 7;
    int scaleRounds = 3;
    std::vector<int> sizesMb{64, 256, 512};
    std::string only; // one of kParts; empty for all
    bool runs(const char* part) const { return only.empty() || only == part; }
};

struct Tools {
    std::string dir;
    std::string curl;
    std::string upload() const { return dir + "/kelvora-bench-upload"; }
    std::string inquiry() const { return dir + "/kelvora-bench-inquiry"; }
    std::string http() const { return dir + "/kelvora-bench-http"; }
    std::string startup() const { return dir + "/kelvora-bench-startup"; }
    std::string minimal() const { return dir + "/kelvora-bench-minimal"; }
    std::string minimalText() const { return dir + "/kelvora-bench-minimal-text"; }
    std::string manyCameras() const { return dir + "/kelvora-bench-manycameras"; }
    // Built beside the bench in the same tree.
    std::string fleet() const { return dir + "/../cli/fleet/kelvora-fleet"; }
    std::string camsim() const { return dir + "/../sim/kelvora-camsim"; }
};

struct UploadResult {
    bool ok = false;
    Row row;
    double mibPerSecOurs = 0;
    double peakMib = 0;
    double fileMib = 0;
};

// Memory goal: one copy of the firmware and at most this much besides.
constexpr double kUploadMemoryAllowanceMib = 64;

UploadResult benchUpload(const Tools& tools, const Options& opt, DiscardSink& sink, int port, int sizeMb)
{
    UploadResult res;
    const std::int64_t fileBytes = std::int64_t(sizeMb) * 1024 * 1024;
    const std::string name = "qv_tk300_main.bin";
    const std::string firmware = tempPath(name);
    const std::string bodyFile = tempPath("body.bin");
    const QString address = QString::fromStdString("127.0.0.1:" + std::to_string(port));
    // The body the dialog sends: the file part is named by the path the dialog reads from.
    const QString filePath = planFilePath(QString::fromStdString(g_tempDir), QString::fromStdString(name));
    const UploadForm form = chooseUploadForm(CAM_MODELID_QV_TK300, fileExtension(QString::fromStdString(name)));
    QString type;
    fileTypeCode(fileExtension(QString::fromStdString(name)), &type);
    const UploadFraming framing = uploadFraming(form, uploadFileName(filePath), type);
    const std::int64_t bodyBytes = framing.head.size() + fileBytes + framing.tail.size();

    if (!writeFirmware(firmware, fileBytes) || !writeBody(bodyFile, firmware, framing.head, framing.tail)) {
        std::fprintf(stderr, "kelvora-bench: cannot write %d MB test files\n", sizeMb);
        removeTempFile(firmware);
        removeTempFile(bodyFile);
        return res;
    }

    std::vector<std::string> curlArgs{tools.curl, "-sS", "-o", "/dev/null", "-w", "%{http_code} %{size_upload} %{time_total}",
                                      "--data-binary", "@" + bodyFile, "-H", "Expect:"};
    for (const auto& [h, v] : uploadHeaders(form, QStringLiteral("YmVuY2g6YmVuY2g="), address, bodyBytes)) {
        if (h == "Content-Length")
            continue; // curl counts the body itself
        curlArgs.push_back("-H");
        curlArgs.push_back((h + ": " + v).toStdString());
    }
    curlArgs.push_back(uploadUrl(form, address).toStdString());

    // A run counts only when the sink answered one more request and got the whole body.
    auto received = [&](int answeredBefore) {
        return sink.answered() == answeredBefore + 1 && sink.lastBodyBytes() == bodyBytes;
    };
    std::vector<double> peaks, curlTransfer, cpu, curlCpu;
    auto ours = [&]() -> std::optional<double> {
        const int before = sink.answered();
        const Run r = runProcess({tools.upload(), address.toStdString(), firmware}, 300);
        const std::string span = field(r.out, "span_us");
        if (!r.ok || r.out.rfind("replied", 0) != 0 || span.empty() || !received(before))
            return std::nullopt;
        peaks.push_back(std::strtod(field(r.out, "peak_kib").c_str(), nullptr) / 1024.0);
        cpu.push_back(r.cpuSeconds);
        return std::strtod(span.c_str(), nullptr) / 1e6;
    };
    auto ref = [&]() -> std::optional<double> {
        const int before = sink.answered();
        const Run r = runProcess(curlArgs, 300);
        const std::string expected = "200 " + std::to_string(bodyBytes) + " ";
        if (!r.ok || r.out.rfind(expected, 0) != 0 || !received(before))
            return std::nullopt;
        curlTransfer.push_back(std::strtod(r.out.c_str() + expected.size(), nullptr));
        curlCpu.push_back(r.cpuSeconds);
        return r.seconds;
    };
    const Rounds rounds = measureRounds(opt.uploadRounds, {ours, ref});
    removeTempFile(firmware);
    removeTempFile(bodyFile);
    if (!rounds.ok) {
        std::fprintf(stderr, "kelvora-bench: the %d MB upload failed\n", sizeMb);
        return res;
    }
    const double mib = double(bodyBytes) / kMiB;
    const double o = rounds.medianTime(0), c = rounds.medianTime(1), ratio = rounds.ratio(1);
    const double transfer = median(curlTransfer);
    res.ok = true;
    res.fileMib = double(fileBytes) / kMiB;
    res.peakMib = *std::max_element(peaks.begin(), peaks.end());
    res.mibPerSecOurs = mib / o;
    const bool timeMet = ratio <= 1.0;
    const bool memMet = res.peakMib <= res.fileMib + kUploadMemoryAllowanceMib;
    res.row = {fmt("Upload %d MB", sizeMb),
               fmt("%.3f s, %.0f MB/s", o, mib / o),
               fmt("curl %.3f s, %.0f MB/s", c, mib / c),
               fmt("%.2f", ratio),
               "<= 1.00; RSS <= file + 64 MB",
               std::string(timeMet ? "yes" : "NO") + "; " + (memMet ? "yes" : "NO"),
               fmt("%.0f MB (file + %.0f)", res.peakMib, res.peakMib - res.fileMib),
               fmt("curl's transfer alone %.3f s: %.2f x; curl's CPU %.3f s", transfer, o / transfer, median(curlCpu)),
               fmt("%.3f s, whole process", median(cpu))};
    return res;
}

// ---- The window's run of several files ----

// Nine files of 8, 16, ... 72 MB, one per component of a QV-TK300 set.
constexpr int kWindowRunFiles = 9;
constexpr int kWindowRunStepMb = 8;
// Memory goal: the largest file, the one on its way, and at most this much besides.
constexpr double kWindowRunAllowanceMib = 64;

// The progress dialog runs the whole set against the simulated camera (in this process,
// restarting at once), as the window runs it after Execute: each file read, posted and
// waited for in turn. What is measured is memory: the run must hold only the file on its
// way, not every file it has read.
std::optional<Row> benchWindowRun(const Tools& tools, const Options& opt)
{
    CameraSim camera;
    camera.setRecordRawBodies(false);
    camera.setKeepUploadContent(false);
    if (camera.start() < 0 || !camera.setModel(CAM_MODELID_QV_TK300)) {
        std::fprintf(stderr, "kelvora-bench: the simulated camera did not start\n");
        return std::nullopt;
    }
    camera.setRestartTime(std::chrono::milliseconds(0));
    camera.setCredentials("bench", "bench");  // the made-up user kelvora-bench-upload sends
    std::vector<std::string> args{tools.upload(), camera.address()};
    std::int64_t sumBytes = 0, largestBytes = 0;
    bool written = true;
    for (int i = 0; i < kWindowRunFiles && written; ++i) {
        const std::int64_t bytes = std::int64_t(i + 1) * kWindowRunStepMb * 1024 * 1024;
        args.push_back(tempPath("qv_tk300_part" + std::to_string(i) + ".bin"));
        written = writeFirmware(args.back(), bytes);
        sumBytes += bytes;
        largestBytes = std::max(largestBytes, bytes);
    }
    std::vector<double> peaks, cpu;
    auto ours = [&]() -> std::optional<double> {
        camera.clearLog();
        const Run r = runProcess(args, 300);
        const std::string span = field(r.out, "span_us");
        if (!r.ok || r.out.rfind("completed", 0) != 0 || span.empty() || camera.uploads().size() != kWindowRunFiles)
            return std::nullopt;
        peaks.push_back(std::strtod(field(r.out, "peak_kib").c_str(), nullptr) / 1024.0);
        cpu.push_back(r.cpuSeconds);
        return std::strtod(span.c_str(), nullptr) / 1e6;
    };
    const Rounds rounds = written ? measureRounds(opt.uploadRounds, {ours}) : Rounds{{}, false};
    camera.stop();
    for (std::size_t i = 2; i < args.size(); ++i)
        removeTempFile(args[i]);
    if (!rounds.ok) {
        std::fprintf(stderr, "kelvora-bench: the window's run of %d files failed\n", kWindowRunFiles);
        return std::nullopt;
    }
    const double largest = double(largestBytes) / kMiB, sum = double(sumBytes) / kMiB;
    const double peak = *std::max_element(peaks.begin(), peaks.end());
    return Row{fmt("Window run, %d files, %d to %d MB", kWindowRunFiles, kWindowRunStepMb, kWindowRunFiles * kWindowRunStepMb),
               fmt("%.2f s, the whole run", rounds.medianTime(0)),
               fmt("files %.0f MB in all", sum),
               "",
               fmt("RSS <= largest file + %.0f MB", kWindowRunAllowanceMib),
               peak <= largest + kWindowRunAllowanceMib ? "yes" : "NO",
               fmt("%.0f MB (largest + %.0f)", peak, peak - largest),
               fmt("largest file %.0f MB; peak RSS is %.0f %% of all the files", largest, 100.0 * peak / sum),
               fmt("%.2f s, whole process", median(cpu))};
}

const char* const kTk300Sequence[] = {
    "qv_cam?cmd=QID&res=1",       "qv_ptz?cmd=%23QSV0&res=1", "qv_ptz?cmd=%23QSV1&res=1",
    "qv_ptz?cmd=%23QSV2&res=1",   "qv_ptz?cmd=%23QSV3&res=1", "qv_ptz?cmd=%23QSV4&res=1",
    "qv_ptz?cmd=%23QSV5&res=1",   "qv_ptz?cmd=%23QSV6&res=1", "qv_ptz?cmd=%23QSV7&res=1",
    "qv_ptz?cmd=%23QSV8&res=1",
};

std::optional<Row> benchInquiry(const Tools& tools, const Options& opt)
{
    CameraSim camera;
    camera.setRecordRawBodies(false);
    if (camera.start() < 0 || !camera.setModel(CAM_MODELID_QV_TK300)) {
        std::fprintf(stderr, "kelvora-bench: the simulated camera did not start\n");
        return std::nullopt;
    }
    const std::string address = camera.address();
    std::vector<std::string> curlArgs{tools.curl, "-sS", "--globoff", "-w", "%{time_total}\\n"};
    for (const char* path : kTk300Sequence) {
        curlArgs.push_back("-o");
        curlArgs.push_back("/dev/null");
        curlArgs.push_back("http://" + address + "/cgi-bin/" + path);
    }
    constexpr std::size_t kRequests = std::size(kTk300Sequence);
    std::vector<double> curlProcess;

    auto ours = [&]() -> std::optional<double> {
        camera.clearLog();
        const Run r = runProcess({tools.inquiry(), address}, 30);
        const std::string span = field(r.out, "span_us");
        if (!r.ok || span.empty() || camera.requests().size() != kRequests)
            return std::nullopt;
        return std::strtod(span.c_str(), nullptr) / 1e6;
    };
    auto ref = [&]() -> std::optional<double> {
        camera.clearLog();
        const Run r = runProcess(curlArgs, 30);
        if (!r.ok || camera.requests().size() != kRequests)
            return std::nullopt;
        // The transfers alone, as ours is timed from the click: curl's own start-up is left out.
        double total = 0;
        std::stringstream lines(r.out);
        std::string line;
        std::size_t n = 0;
        while (std::getline(lines, line)) {
            total += std::strtod(line.c_str(), nullptr);
            ++n;
        }
        if (n != kRequests)
            return std::nullopt;
        curlProcess.push_back(r.seconds);
        return total;
    };
    // The same ten GETs without the window: Qt's client alone, and one socket in one thread.
    auto client = [&](const char* mode) {
        return [&, mode]() -> std::optional<double> {
            camera.clearLog();
            const Run r = runProcess({tools.http(), mode, address}, 30);
            const std::string span = field(r.out, "span_us");
            if (!r.ok || span.empty() || camera.requests().size() != kRequests)
                return std::nullopt;
            return std::strtod(span.c_str(), nullptr) / 1e6;
        };
    };
    const Rounds rounds = measureRounds(opt.inquiryRounds, {ours, ref, client("qnam"), client("socket")});
    camera.stop();
    if (!rounds.ok) {
        std::fprintf(stderr, "kelvora-bench: the inquiry sequence failed\n");
        return std::nullopt;
    }
    const double ratio = rounds.ratio(1), o = rounds.medianTime(0), whole = median(curlProcess);
    return Row{"Inquiry TK300, 10 requests",
               fmt("%.2f ms, Connect to Camera END", o * 1e3),
               fmt("curl %.2f ms, its 10 transfers", rounds.medianTime(1) * 1e3),
               fmt("%.2f", ratio),
               "<= 1.20",
               ratio <= 1.2 ? "yes" : "NO",
               "",
               fmt("QNetworkAccessManager alone %.2f ms; one QTcpSocket %.2f ms; whole curl process %.1f ms",
                   rounds.medianTime(2) * 1e3, rounds.medianTime(3) * 1e3, whole * 1e3),
               ""};
}

std::vector<Row> benchStartup(const Tools& tools, const Options& opt)
{
    auto timed = [](const std::string& program) {
        return [program]() -> std::optional<double> {
            const Run r = runProcess({program}, 30);
            return r.ok ? std::optional<double>(r.seconds) : std::nullopt;
        };
    };
    const Rounds rounds =
        measureRounds(opt.startupRounds, {timed(tools.startup()), timed(tools.minimal()), timed(tools.minimalText())});
    if (!rounds.ok) {
        std::fprintf(stderr, "kelvora-bench: a start-up program failed\n");
        return {};
    }
    const double ratio = rounds.ratio(1), ratioText = rounds.ratio(2);
    return {Row{"Start-up to window shown",
                fmt("%.1f ms, main window", rounds.medianTime(0) * 1e3),
                fmt("%.1f ms, empty 800 x 600 window", rounds.medianTime(1) * 1e3),
                fmt("%.2f", ratio),
                "<= 1.20",
                ratio <= 1.2 ? "yes" : "NO",
                "",
                fmt("800 x 600 window with one label %.1f ms: %.2f x", rounds.medianTime(2) * 1e3, ratioText),
                ""}};
}

// ---- The fleet ----

constexpr int kFleetCameras = 16;
constexpr int kFleetFileMb = 64;
constexpr int kFleetRestartSeconds = 2;
// Goals: 16 cameras in at most this many times one camera's time; the one copy of the
// firmware all uploads share and at most this much besides; the fleet's CPU time per GB of
// bodies sent at most half of the 1.21 s/GB it took when every upload went through the
// socket's own buffer and the digest through Qt's SHA-256 (docs/performance.md).
constexpr double kFleetRatioGoal = 1.2;
constexpr double kFleetMemoryAllowanceMib = 64;
constexpr double kFleetCpuPerGbGoal = 0.6;
// kelvora-camsim's own user and password, given to the fleet as an operator would.
constexpr char kCameraUser[] = "admin";
constexpr char kCameraPassword[] = "password";

// kelvora-fleet updates 16 simulated cameras at once, each with one 64 MB file, against the
// same update of one of them; the cameras run in a kelvora-camsim process of their own and
// restart in 2 s. curl sending the same bodies to the same cameras shows what the uploads
// alone cost on this machine.
std::optional<Row> benchFleet(const Tools& tools, const Options& opt)
{
    // The TK300's interface EEPROM: its 300 s reset wait ends as soon as the camera is back.
    // The list file's model section needs a cam_cpu line; left empty, it names no file. The
    // file's first line makes a camera report the file's version after its restart.
    const std::string name = "tk300_interface_eeprom_V0110.eep", key = "interface_eeprom", version = "V01.10";
    const std::int64_t fileBytes = std::int64_t(kFleetFileMb) * 1024 * 1024;
    const std::string list = tempPath("verup_list.ini");
    const std::string firmware = tempPath(name);
    const std::string bodyFile = tempPath("body.bin");
    const UploadForm form = chooseUploadForm(CAM_MODELID_QV_TK300, fileExtension(QString::fromStdString(name)));
    QString type;
    fileTypeCode(fileExtension(QString::fromStdString(name)), &type);
    const QString filePath = planFilePath(QString::fromStdString(g_tempDir), QString::fromStdString(name));
    const UploadFraming framing = uploadFraming(form, uploadFileName(filePath), type);
    const std::int64_t bodyBytes = framing.head.size() + fileBytes + framing.tail.size();
    const std::string listText = "[TK300]\ncam_cpu=\n" + key + "=" + name + "\n\n[" + name + "]\nversion=" + version
        + "\nvupno=7\n";
    std::FILE* f = std::fopen(list.c_str(), "w");
    const bool listOk = f && std::fputs(listText.c_str(), f) >= 0;
    if ((f && std::fclose(f) != 0) || !listOk || !writeFirmware(firmware, fileBytes, simFirmwareHeader(key, version))
        || !writeBody(bodyFile, firmware, framing.head, framing.tail)) {
        std::fprintf(stderr, "kelvora-bench: cannot write the fleet's firmware folder\n");
        removeTempFile(list);
        removeTempFile(firmware);
        removeTempFile(bodyFile);
        return std::nullopt;
    }

    std::optional<Server> cameras =
        startServer({tools.camsim(), "--cameras", std::to_string(kFleetCameras), "--port", "0", "--model", "TK300",
                     "--restart-seconds", std::to_string(kFleetRestartSeconds)},
                    "camera: ", kFleetCameras, 30);
    std::vector<std::string> addresses;
    // The cameras print each request once answered: when a run's last upload was answered
    // tells its uploads from its wait for the restarts.
    using Clock = std::chrono::steady_clock;
    std::mutex answeredLock;
    std::vector<Clock::time_point> uploadsAnswered;
    std::thread reader;
    if (cameras) {
        for (const std::string& line : cameras->lines)
            addresses.push_back(line.substr(0, line.find(' ')));
        reader = std::thread([&, fd = cameras->out] {
            std::string text;
            char buf[4096];
            for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) != 0;) {
                if (n < 0 && errno == EINTR)
                    continue;
                if (n < 0)
                    break;
                text.append(buf, std::size_t(n));
                for (std::size_t end; (end = text.find('\n')) != std::string::npos; text.erase(0, end + 1)) {
                    if (text.find(" [upload] -> 200 ") < end) {
                        std::lock_guard<std::mutex> lock(answeredLock);
                        uploadsAnswered.push_back(Clock::now());
                    }
                }
            }
            ::close(fd);
        });
        cameras->out = -1; // the reader's, until the cameras end
    }
    // Seconds from t0 to the last of the n uploads answered since; nullopt unless exactly n were.
    auto uploadsDone = [&](Clock::time_point t0, std::size_t n) -> std::optional<double> {
        std::lock_guard<std::mutex> lock(answeredLock);
        std::vector<Clock::time_point> since;
        std::copy_if(uploadsAnswered.begin(), uploadsAnswered.end(), std::back_inserter(since),
                     [t0](Clock::time_point t) { return t >= t0; });
        if (since.size() != n)
            return std::nullopt;
        return std::chrono::duration<double>(*std::max_element(since.begin(), since.end()) - t0).count();
    };
    ::setenv("KELVORA_USER", kCameraUser, 1);
    ::setenv("KELVORA_PASSWORD", kCameraPassword, 1);
    const QString credential = QString::fromLatin1(
        (QByteArray(kCameraUser) + ':' + QByteArray(kCameraPassword)).toBase64());

    // What each of the four measures saw, round by round (the time is the rounds' own).
    struct Samples {
        std::vector<double> peakMib, uploadSeconds, cpuSeconds;
    };
    Samples many, one, curlMany, curlOne;
    // The fleet's update of the first n cameras; it exits 0 only when each completed and
    // shows the folder's version.
    auto fleet = [&](std::size_t n, Samples* seen) {
        return [&, n, seen]() -> std::optional<double> {
            // A measurement is no update of the developer's: nothing of it goes to the history.
            std::vector<std::string> args{tools.fleet(), "update", "--folder", g_tempDir, "--all", "--yes", "--no-history",
                                          "--parallel", std::to_string(kFleetCameras)};
            args.insert(args.end(), addresses.begin(), addresses.begin() + std::ptrdiff_t(n));
            const Clock::time_point t0 = Clock::now();
            const Run r = runProcess(args, 300);
            const std::optional<double> done = uploadsDone(t0, n);
            if (!r.ok || !done)
                return std::nullopt;
            seen->peakMib.push_back(double(r.maxRssKib) / 1024.0);
            seen->uploadSeconds.push_back(*done);
            seen->cpuSeconds.push_back(r.cpuSeconds);
            return r.seconds;
        };
    };
    // curl sending the fleet's body to the first n cameras at once, each accepted; then the
    // cameras' restart, untimed, so that the next run finds them back.
    auto curl = [&](std::size_t n, Samples* seen) {
        return [&, n, seen]() -> std::optional<double> {
            std::vector<std::string> args{tools.curl, "-sS", "--parallel", "--parallel-max", std::to_string(kFleetCameras)};
            for (std::size_t i = 0; i < n; ++i) {
                const QString address = QString::fromStdString(addresses[i]);
                if (i > 0)
                    args.push_back("--next");
                for (const char* a : {"-o", "/dev/null", "-w", "%{http_code}\\n", "-X", "POST", "-H", "Expect:", "-T"})
                    args.push_back(a);
                args.push_back(bodyFile);
                for (const auto& [h, v] : uploadHeaders(form, credential, address, bodyBytes)) {
                    if (h == "Content-Length")
                        continue; // curl takes it from the file
                    args.push_back("-H");
                    args.push_back((h + ": " + v).toStdString());
                }
                args.push_back(uploadUrl(form, address).toStdString());
            }
            const Run r = runProcess(args, 300);
            std::string accepted;
            for (std::size_t i = 0; i < n; ++i)
                accepted += "200\n";
            std::this_thread::sleep_for(std::chrono::milliseconds(kFleetRestartSeconds * 1000 + 500));
            if (!r.ok || r.out != accepted)
                return std::nullopt;
            seen->cpuSeconds.push_back(r.cpuSeconds);
            return r.seconds;
        };
    };
    Rounds rounds;
    rounds.ok = false;
    if (addresses.size() == std::size_t(kFleetCameras))
        rounds = measureRounds(opt.fleetRounds, {fleet(kFleetCameras, &many), fleet(1, &one),
                                                 curl(kFleetCameras, &curlMany), curl(1, &curlOne)});
    if (cameras)
        stopServer(*cameras);
    if (reader.joinable())
        reader.join();
    removeTempFile(list);
    removeTempFile(firmware);
    removeTempFile(bodyFile);
    if (!rounds.ok) {
        std::fprintf(stderr, "kelvora-bench: the fleet's update failed\n");
        return std::nullopt;
    }
    const double ratio = rounds.ratio(1);
    // The wait for a restart is counted in whole ticks: rounds differ by a tick, so the range shows.
    std::vector<double> byRound;
    for (std::size_t i = 0; i < rounds.times[0].size(); ++i)
        byRound.push_back(rounds.times[0][i] / rounds.times[1][i]);
    const double fileMib = double(fileBytes) / kMiB;
    const double peak = *std::max_element(many.peakMib.begin(), many.peakMib.end());
    const bool memMet = peak <= fileMib + kFleetMemoryAllowanceMib;
    // CPU seconds per GB of bodies handed to the cameras (GB as 1024 MB, like every size here).
    const auto perGb = [&](const Samples& s, std::size_t cameras) {
        return median(s.cpuSeconds) / (double(bodyBytes) * double(cameras) / (kMiB * 1024.0));
    };
    const double cpuPerGb = perGb(many, kFleetCameras);
    const bool timeMet = ratio <= kFleetRatioGoal, cpuMet = cpuPerGb <= kFleetCpuPerGbGoal;
    return Row{fmt("Fleet update, %d cameras, %d MB each", kFleetCameras, kFleetFileMb),
               fmt("%.2f s, %d at once", rounds.medianTime(0), kFleetCameras),
               fmt("%.2f s, one camera", rounds.medianTime(1)),
               fmt("%.2f", ratio),
               fmt("<= %.2f; RSS <= file + %.0f MB; CPU <= %.2f s/GB", kFleetRatioGoal, kFleetMemoryAllowanceMib,
                   kFleetCpuPerGbGoal),
               std::string(timeMet ? "yes" : "NO") + "; " + (memMet ? "yes" : "NO") + "; " + (cpuMet ? "yes" : "NO"),
               fmt("%.0f MB (file + %.0f)", peak, peak - fileMib),
               fmt("ratio by round %.2f to %.2f; uploads answered after %.2f s (one camera %.2f s); curl sending the same: "
                   "%d at once %.2f s (CPU %.2f s, %.2f s/GB), one %.2f s; one camera's run %.0f MB, CPU %.2f s",
                   *std::min_element(byRound.begin(), byRound.end()), *std::max_element(byRound.begin(), byRound.end()),
                   median(many.uploadSeconds), median(one.uploadSeconds), kFleetCameras, rounds.medianTime(2),
                   median(curlMany.cpuSeconds), perGb(curlMany, kFleetCameras), rounds.medianTime(3),
                   *std::max_element(one.peakMib.begin(), one.peakMib.end()), median(one.cpuSeconds)),
               fmt("%.2f s, %.2f s/GB", median(many.cpuSeconds), cpuPerGb)};
}

// ---- A thousand cameras ----

constexpr int kScaleCameras = 1000;
constexpr int kScaleRangeAddresses = 1022;  // a /22 without its network and broadcast addresses
constexpr int kScaleSilent = 64;
constexpr int kScaleFileMb = 1;
// Goals: a /22 scanned in at most 5 s; with silent addresses, one inquiry bound and 2 s;
// a thousand cameras updated in at most 1.5 times one camera's time, the tool within this
// much memory besides the file.
constexpr double kScaleScanGoalSeconds = 5.0;
constexpr double kScaleSilentGoalSeconds = 10.0 + 2.0;
constexpr double kScaleRatioGoal = 1.5;
constexpr double kScaleMemoryAllowanceMib = 150;

// A port free on every address, for cameras that all listen on it, each on an address of
// their own. Below the kernel's ephemeral range (32768 up), where no client socket of the
// bench's own runs can take it from one of them.
int freePort()
{
    for (int i = 0; i < 1000; ++i) {
        const int port = 20000 + int((unsigned(::getpid()) * 131u + unsigned(i) * 977u) % 12000u);
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return -1;
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_ANY);
        a.sin_port = htons(std::uint16_t(port));
        const bool free = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        ::close(fd);
        if (free)
            return port;
    }
    return -1;
}

// kelvora-fleet's scan of a range on loopback; `ok` only when it ran and every one of the
// range's `cameras` answered. Exit 1 is expected: the closed and silent addresses did not.
Run fleetScanOf(const Tools& tools, const std::string& range, std::size_t cameras, bool* ok)
{
    Run r = runProcess({tools.fleet(), "scan", "--csv", range}, 120, 1);
    std::size_t answered = 0;
    for (std::size_t at = 0; (at = r.out.find(",yes,", at)) != std::string::npos; ++at)
        ++answered;
    *ok = r.ok && answered == cameras;
    return r;
}

// Rows of one scan of a /22 on loopback that holds `cameras` simulated cameras and `silent`
// addresses that accept and never answer, the rest closed.
std::optional<Row> benchRangeScan(const Tools& tools, const Options& opt, const char* net, int cameras, int silent)
{
    const int port = freePort();
    const std::string first = std::string(net) + ".0.1";
    std::optional<Server> sims = startServer(
        {tools.camsim(), "--cameras", std::to_string(cameras), "--consecutive", "addresses", "--bind", first, "--port",
         std::to_string(port), "--silent", std::to_string(silent), "--closed",
         std::to_string(kScaleRangeAddresses - cameras - silent), "--quiet"},
        "addresses: ", 1, 30);
    if (!sims || port < 0)
        return std::nullopt;
    std::vector<double> peaks, cpu;
    const std::string range = std::string(net) + ".0.0/22:" + std::to_string(port);
    auto scan = [&]() -> std::optional<double> {
        bool ok = false;
        const Run r = fleetScanOf(tools, range, std::size_t(cameras), &ok);
        if (!ok)
            return std::nullopt;
        peaks.push_back(double(r.maxRssKib) / 1024.0);
        cpu.push_back(r.cpuSeconds);
        return r.seconds;
    };
    const Rounds rounds = measureRounds(opt.scaleRounds, {scan});
    stopServer(*sims);
    if (!rounds.ok) {
        std::fprintf(stderr, "kelvora-bench: the range scan failed\n");
        return std::nullopt;
    }
    const double goal = silent > 0 ? kScaleSilentGoalSeconds : kScaleScanGoalSeconds;
    const double t = rounds.medianTime(0);
    return Row{fmt("Range scan, /22: %d cameras, %d silent, %d closed", cameras, silent,
                   kScaleRangeAddresses - cameras - silent),
               fmt("%.2f s", t), "-", "-", fmt("<= %.0f s", goal), t <= goal ? "yes" : "NO",
               fmt("%.0f MB", *std::max_element(peaks.begin(), peaks.end())),
               silent > 0 ? std::string("an inquiry's bound is 10 s") : std::string(),
               fmt("%.2f s", median(cpu))};
}

// kelvora-fleet updates a thousand simulated cameras at once, one 1 MB file each, restarting
// in 2 s, against the same update of one of them.
std::optional<Row> benchThousand(const Tools& tools, const Options& opt)
{
    const std::string name = "tk300_interface_eeprom_V0110.eep", key = "interface_eeprom", version = "V01.10";
    const std::int64_t fileBytes = std::int64_t(kScaleFileMb) * 1024 * 1024;
    const std::string list = tempPath("verup_list.ini");
    const std::string firmware = tempPath(name);
    const std::string listText = "[TK300]\ncam_cpu=\n" + key + "=" + name + "\n\n[" + name + "]\nversion=" + version
        + "\nvupno=7\n";
    std::FILE* f = std::fopen(list.c_str(), "w");
    const bool listOk = f && std::fputs(listText.c_str(), f) >= 0;
    if ((f && std::fclose(f) != 0) || !listOk || !writeFirmware(firmware, fileBytes, simFirmwareHeader(key, version))) {
        std::fprintf(stderr, "kelvora-bench: cannot write the firmware folder\n");
        removeTempFile(list);
        removeTempFile(firmware);
        return std::nullopt;
    }
    const int port = freePort();
    std::optional<Server> sims =
        startServer({tools.camsim(), "--cameras", std::to_string(kScaleCameras), "--consecutive", "addresses", "--bind",
                     "127.4.0.1", "--port", std::to_string(port), "--model", "TK300", "--restart-seconds",
                     std::to_string(kFleetRestartSeconds), "--quiet"},
                    "addresses: ", 1, 30);
    ::setenv("KELVORA_USER", kCameraUser, 1);
    ::setenv("KELVORA_PASSWORD", kCameraPassword, 1);
    std::vector<double> peaks, onePeaks, cpu;
    // The /22 of the cameras, but for the 22 addresses after the last one.
    const std::vector<std::string> all{"127.4.0.0/22:" + std::to_string(port), "--exclude", "127.4.3.233/32", "--exclude",
                                       "127.4.3.234/31", "--exclude", "127.4.3.236/30", "--exclude", "127.4.3.240/28"};
    auto update = [&](bool thousand) {
        return [&, thousand]() -> std::optional<double> {
            std::vector<std::string> args{tools.fleet(), "update", "--folder", g_tempDir, "--all", "--yes", "--no-history",
                                          "--parallel", std::to_string(kScaleCameras)};
            if (thousand)
                args.insert(args.end(), all.begin(), all.end());
            else
                args.push_back("127.4.0.1:" + std::to_string(port));
            const Run r = runProcess(args, 300);
            if (!r.ok)
                return std::nullopt;
            (thousand ? peaks : onePeaks).push_back(double(r.maxRssKib) / 1024.0);
            if (thousand)
                cpu.push_back(r.cpuSeconds);
            // The cameras come back before the next round is measured.
            std::this_thread::sleep_for(std::chrono::milliseconds(kFleetRestartSeconds * 1000 + 500));
            return r.seconds;
        };
    };
    Rounds rounds;
    rounds.ok = false;
    if (sims && port > 0)
        rounds = measureRounds(opt.scaleRounds, {update(true), update(false)});
    if (sims)
        stopServer(*sims);
    removeTempFile(list);
    removeTempFile(firmware);
    if (!rounds.ok) {
        std::fprintf(stderr, "kelvora-bench: the thousand cameras' update failed\n");
        return std::nullopt;
    }
    const double ratio = rounds.ratio(1);
    const double fileMib = double(fileBytes) / kMiB;
    const double peak = *std::max_element(peaks.begin(), peaks.end());
    const bool timeMet = ratio <= kScaleRatioGoal, memMet = peak <= fileMib + kScaleMemoryAllowanceMib;
    return Row{fmt("Fleet update, %d cameras, %d MB each", kScaleCameras, kScaleFileMb),
               fmt("%.2f s, %d at once", rounds.medianTime(0), kScaleCameras),
               fmt("%.2f s, one camera", rounds.medianTime(1)),
               fmt("%.2f", ratio),
               fmt("<= %.2f; RSS <= file + %.0f MB", kScaleRatioGoal, kScaleMemoryAllowanceMib),
               std::string(timeMet ? "yes" : "NO") + "; " + (memMet ? "yes" : "NO"),
               fmt("%.0f MB (file + %.0f)", peak, peak - fileMib),
               fmt("one camera's run %.0f MB; the cameras restart in %d s, the tool asks once a second",
                   *std::max_element(onePeaks.begin(), onePeaks.end()), kFleetRestartSeconds),
               fmt("%.2f s", median(cpu))};
}

// ---- The many-camera window ----

constexpr int kWindowUpdateCameras = 256;
constexpr int kWindowTickMs = 100;
// Goals: the window fills its table of a /22 in at most 1.5 times the fleet program's scan
// of it, and its event loop never stops for longer than this, scanning or updating.
constexpr double kWindowScanRatioGoal = 1.5;
constexpr double kWindowGapGoalMs = 50;

// "key=value" of the window probe's line, in microseconds, as seconds.
double seconds(const std::string& out, const char* key)
{
    return std::strtod(field(out, key).c_str(), nullptr) / 1e6;
}

// The many-camera window (kelvora-bench-manycameras) scans the /22 that the range scan
// row's fleet program scans, 1,000 cameras and 22 closed addresses, against that fleet
// scan; then it updates 256 cameras. Its event loop's longest stop is timed beside both.
std::vector<Row> benchManyCameras(const Tools& tools, const Options& opt)
{
    std::vector<Row> rows;
    const int closed = kScaleRangeAddresses - kScaleCameras;
    int port = freePort();
    std::optional<Server> sims =
        port < 0 ? std::nullopt
                 : startServer({tools.camsim(), "--cameras", std::to_string(kScaleCameras), "--consecutive", "addresses",
                                "--bind", "127.5.0.1", "--port", std::to_string(port), "--closed", std::to_string(closed),
                                "--quiet"},
                               "addresses: ", 1, 30);
    if (!sims)
        return {};
    const std::string range = "127.5.0.0/22:" + std::to_string(port);
    std::vector<double> gaps, peaks, cpu, fleetCpu;
    auto fleetScan = [&]() -> std::optional<double> {
        bool ok = false;
        const Run r = fleetScanOf(tools, range, std::size_t(kScaleCameras), &ok);
        if (!ok)
            return std::nullopt;
        fleetCpu.push_back(r.cpuSeconds);
        return r.seconds;
    };
    auto windowScan = [&]() -> std::optional<double> {
        const Run r = runProcess({tools.manyCameras(), "scan", range}, 120);
        if (!r.ok || field(r.out, "rows") != std::to_string(kScaleRangeAddresses)
            || field(r.out, "answered") != std::to_string(kScaleCameras))
            return std::nullopt;
        gaps.push_back(seconds(r.out, "scan_gap_us") * 1e3);
        peaks.push_back(double(r.maxRssKib) / 1024.0);
        cpu.push_back(r.cpuSeconds);
        return seconds(r.out, "scan_us");
    };
    const Rounds scan = measureRounds(opt.scaleRounds, {windowScan, fleetScan});
    stopServer(*sims);
    if (!scan.ok) {
        std::fprintf(stderr, "kelvora-bench: the many-camera window's scan failed\n");
        return {};
    }
    {
        const double ratio = scan.ratio(1), gap = *std::max_element(gaps.begin(), gaps.end());
        rows.push_back(Row{fmt("Many-camera window scan, /22: %d cameras, %d closed", kScaleCameras, closed),
                           fmt("%.2f s, Return to every row filled", scan.medianTime(0)),
                           fmt("%.2f s, kelvora-fleet scan", scan.medianTime(1)), fmt("%.2f", ratio),
                           fmt("<= %.2f; event loop stops <= %.0f ms", kWindowScanRatioGoal, kWindowGapGoalMs),
                           std::string(ratio <= kWindowScanRatioGoal ? "yes" : "NO") + "; "
                               + (gap <= kWindowGapGoalMs ? "yes" : "NO"),
                           fmt("%.0f MB", *std::max_element(peaks.begin(), peaks.end())),
                           fmt("longest stop of a 10 ms timer %.0f ms (median %.0f ms); the fleet's CPU %.2f s, "
                               "whole process",
                               gap, median(gaps), median(fleetCpu)),
                           fmt("%.2f s, whole process", median(cpu))});
    }

    // The update: one 1 MB file each, the cameras restarting in 2 s, as the thousand's.
    const std::string name = "tk300_interface_eeprom_V0110.eep", key = "interface_eeprom", version = "V01.10";
    const std::string list = tempPath("verup_list.ini");
    const std::string firmware = tempPath(name);
    const std::string listText = "[TK300]\ncam_cpu=\n" + key + "=" + name + "\n\n[" + name + "]\nversion=" + version
        + "\nvupno=7\n";
    std::FILE* f = std::fopen(list.c_str(), "w");
    const bool listOk = f && std::fputs(listText.c_str(), f) >= 0;
    if ((f && std::fclose(f) != 0) || !listOk
        || !writeFirmware(firmware, std::int64_t(kScaleFileMb) * 1024 * 1024, simFirmwareHeader(key, version))) {
        std::fprintf(stderr, "kelvora-bench: cannot write the firmware folder\n");
        removeTempFile(list);
        removeTempFile(firmware);
        return {};
    }
    port = freePort();
    sims = port < 0 ? std::nullopt
                    : startServer({tools.camsim(), "--cameras", std::to_string(kWindowUpdateCameras), "--consecutive",
                                   "addresses", "--bind", "127.6.0.1", "--port", std::to_string(port), "--model",
                                   "TK300", "--restart-seconds", std::to_string(kFleetRestartSeconds), "--quiet"},
                                  "addresses: ", 1, 30);
    // 127.6.0.1 to 127.6.1.0, as an operator would paste them.
    std::string targets;
    for (int i = 1; i <= kWindowUpdateCameras; ++i)
        targets += fmt("%s127.6.%d.%d:%d", i > 1 ? ", " : "", i / 256, i % 256, port);
    ::setenv("KELVORA_USER", kCameraUser, 1);
    ::setenv("KELVORA_PASSWORD", kCameraPassword, 1);
    std::vector<double> updateGaps, scanGaps, updatePeaks, updateCpu;
    auto windowUpdate = [&]() -> std::optional<double> {
        const Run r = runProcess({tools.manyCameras(), "update", g_tempDir, targets, std::to_string(kWindowUpdateCameras),
                                  std::to_string(kWindowTickMs)},
                                 300);
        // The cameras come back before the next round is measured.
        std::this_thread::sleep_for(std::chrono::milliseconds(kFleetRestartSeconds * 1000 + 500));
        if (!r.ok || field(r.out, "succeeded") != std::to_string(kWindowUpdateCameras))
            return std::nullopt;
        updateGaps.push_back(seconds(r.out, "update_gap_us") * 1e3);
        scanGaps.push_back(seconds(r.out, "scan_gap_us") * 1e3);
        updatePeaks.push_back(double(r.maxRssKib) / 1024.0);
        updateCpu.push_back(r.cpuSeconds);
        return seconds(r.out, "update_us");
    };
    Rounds update;
    update.ok = false;
    if (sims)
        update = measureRounds(opt.scaleRounds, {windowUpdate});
    if (sims)
        stopServer(*sims);
    removeTempFile(list);
    removeTempFile(firmware);
    if (!update.ok) {
        std::fprintf(stderr, "kelvora-bench: the many-camera window's update failed\n");
        return {};
    }
    const double gap = *std::max_element(updateGaps.begin(), updateGaps.end());
    rows.push_back(Row{fmt("Many-camera window update, %d cameras, %d MB each", kWindowUpdateCameras, kScaleFileMb),
                       fmt("%.2f s, %d at once", update.medianTime(0), kWindowUpdateCameras), "-", "-",
                       fmt("event loop stops <= %.0f ms", kWindowGapGoalMs), gap <= kWindowGapGoalMs ? "yes" : "NO",
                       fmt("%.0f MB", *std::max_element(updatePeaks.begin(), updatePeaks.end())),
                       fmt("longest stop of a 10 ms timer %.0f ms (median %.0f ms), from the update's start to its "
                           "end; the cameras restart in %d s, the window asks every %d ms; its scan of them first: "
                           "longest stop %.0f ms",
                           gap, median(updateGaps), kFleetRestartSeconds, kWindowTickMs,
                           *std::max_element(scanGaps.begin(), scanGaps.end())),
                       fmt("%.2f s, whole process", median(updateCpu))});
    return rows;
}

bool parseArgs(int argc, char** argv, Options* opt)
{
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--rounds" && i + 1 < argc) {
            const int n = std::atoi(argv[++i]);
            if (n < 1)
                return false;
            opt->uploadRounds = opt->inquiryRounds = opt->startupRounds = opt->fleetRounds = opt->scaleRounds = n;
        } else if (a == "--sizes" && i + 1 < argc) {
            opt->sizesMb.clear();
            std::stringstream list(argv[++i]);
            std::string item;
            while (std::getline(list, item, ',')) {
                const int mb = std::atoi(item.c_str());
                if (mb < 1 || mb > 4096)
                    return false;
                opt->sizesMb.push_back(mb);
            }
        } else if (a == "--only" && i + 1 < argc) {
            opt->only = argv[++i];
            if (std::find(std::begin(kParts), std::end(kParts), opt->only) == std::end(kParts))
                return false;
        } else {
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc == 2 && std::strcmp(argv[1], "--sink") == 0) {
        // For profiling a client by hand: the same sink, until interrupted.
        DiscardSink sink;
        const int port = sink.start();
        if (port < 0)
            return 1;
        std::printf("127.0.0.1:%d\n", port);
        std::fflush(stdout);
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGINT);
        sigaddset(&set, SIGTERM);
        ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
        int sig = 0;
        ::sigwait(&set, &sig);
        sink.stop();
        return 0;
    }
    Options opt;
    if (!parseArgs(argc, argv, &opt)) {
        std::fprintf(stderr, "usage: kelvora-bench [--rounds N] [--sizes MB,MB,...] [--only upload|window-run|inquiry|start-up|fleet|scale|many-cameras]\n");
        return 2;
    }
    Tools tools;
    tools.dir = selfDir();
    const std::optional<std::string> curl = findInPath("curl");
    if (!curl) {
        std::fprintf(stderr, "kelvora-bench: curl is not installed (make deps installs it)\n");
        return 1;
    }
    tools.curl = *curl;
    // Every Qt program measured here draws off screen, the same way for ours and the reference.
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);

    const char* tmp = std::getenv("TMPDIR");
    std::snprintf(g_tempDir, sizeof g_tempDir, "%s/kelvora-bench-XXXXXX", tmp && *tmp ? tmp : "/tmp");
    if (!::mkdtemp(g_tempDir)) {
        std::fprintf(stderr, "kelvora-bench: cannot create a temporary directory\n");
        return 1;
    }
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGHUP, &sa, nullptr);

    std::vector<Row> rows;
    std::vector<UploadResult> uploads;
    bool ok = true;

    if (opt.runs("upload")) {
        std::fprintf(stderr, "kelvora-bench: uploads ...\n");
        DiscardSink sink;
        const int port = sink.start();
        if (port < 0) {
            std::fprintf(stderr, "kelvora-bench: the sink did not start\n");
            ok = false;
        }
        for (std::size_t i = 0; ok && i < opt.sizesMb.size(); ++i) {
            UploadResult u = benchUpload(tools, opt, sink, port, opt.sizesMb[i]);
            ok = u.ok;
            if (ok) {
                rows.push_back(u.row);
                uploads.push_back(u);
            }
        }
        sink.stop();
    }

    if (ok && opt.runs("window-run")) {
        std::fprintf(stderr, "kelvora-bench: the window's run ...\n");
        const std::optional<Row> r = benchWindowRun(tools, opt);
        ok = r.has_value();
        if (ok)
            rows.push_back(*r);
    }

    if (ok && opt.runs("inquiry")) {
        std::fprintf(stderr, "kelvora-bench: inquiry ...\n");
        const std::optional<Row> r = benchInquiry(tools, opt);
        ok = r.has_value();
        if (ok)
            rows.push_back(*r);
    }
    if (ok && opt.runs("start-up")) {
        std::fprintf(stderr, "kelvora-bench: start-up ...\n");
        const std::vector<Row> r = benchStartup(tools, opt);
        ok = !r.empty();
        rows.insert(rows.end(), r.begin(), r.end());
    }
    if (ok && opt.runs("fleet")) {
        std::fprintf(stderr, "kelvora-bench: fleet ...\n");
        const std::optional<Row> r = benchFleet(tools, opt);
        ok = r.has_value();
        if (ok)
            rows.push_back(*r);
    }
    if (ok && opt.runs("scale")) {
        std::fprintf(stderr, "kelvora-bench: a thousand cameras ...\n");
        for (const std::optional<Row>& r : {benchRangeScan(tools, opt, "127.2", kScaleCameras, 0),
                                            benchRangeScan(tools, opt, "127.3", kScaleRangeAddresses - kScaleSilent, kScaleSilent),
                                            benchThousand(tools, opt)}) {
            ok = ok && r.has_value();
            if (r)
                rows.push_back(*r);
        }
    }
    if (ok && opt.runs("many-cameras")) {
        std::fprintf(stderr, "kelvora-bench: the many-camera window ...\n");
        const std::vector<Row> r = benchManyCameras(tools, opt);
        ok = !r.empty();
        rows.insert(rows.end(), r.begin(), r.end());
    }
    removeTempFiles();
    if (!ok)
        return 1;

    std::printf("\n");
    printTable(rows);
    std::printf("\nRatio: median over %d (uploads, window run), %d (inquiry), %d (start-up), %d (fleet), %d (a thousand cameras, the many-camera window) rounds of ours / reference, both timed in the same round.\n",
                opt.uploadRounds, opt.inquiryRounds, opt.startupRounds, opt.fleetRounds, opt.scaleRounds);
    if (uploads.size() > 1) {
        std::string rate = "Upload rate by size (linear time means a flat rate):", over = "Peak RSS minus file size:";
        for (const UploadResult& u : uploads) {
            rate += fmt(" %.0f MB %.0f MB/s;", u.fileMib, u.mibPerSecOurs);
            over += fmt(" %.0f MB +%.0f;", u.fileMib, u.peakMib - u.fileMib);
        }
        std::printf("%s\n%s\n", rate.c_str(), over.c_str());
    }
    return 0;
}
