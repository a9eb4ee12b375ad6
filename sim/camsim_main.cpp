// kelvora-camsim: runs one simulated camera, or a fleet of them, until SIGINT or SIGTERM.
// A fleet can lie on consecutive ports of one address or on consecutive loopback addresses
// of one port, with addresses that never answer and addresses nobody listens on among them:
// a bed for range scans.

#include "camera/caminfo.h"
#include "sim/camerasim.h"
#include "sim/simprofiles.h"
#include "kelvora/version.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace {

const char* kUsage =
    "Usage: kelvora-camsim [options]\n"
    "Simulated QV camera for Kelvora: answers the model and version inquiries and takes\n"
    "firmware uploads over HTTP. With --cameras it runs a fleet of them.\n"
    "\n"
    "  -m, --model NAME|ID[,...] profile: TK10, TKD7_S, TKD7_H, TK300, OLD_TK20_S, OLD_TK20_H,\n"
    "                            NEW_TK20_S, NEW_TK20_H, OLD_TK15_S, OLD_TK15_H, NEW_TK15_S,\n"
    "                            NEW_TK15_H, as any of the programs writes it (QV-TK300,\n"
    "                            QV_TK300, CAM_MODELID_QV_TK300, the list file's TK20S_OLDFPGA;\n"
    "                            any case), or 1..12\n"
    "                            (default TK300); a comma list gives the cameras their\n"
    "                            models in turn\n"
    "  -n, --cameras N           run N cameras (default 1, at most 4096); every other option\n"
    "                            applies to each of them\n"
    "      --consecutive WHAT    how the cameras are laid out: ports (default: on --bind, ports\n"
    "                            counted up from --port) or addresses (all on --port, addresses\n"
    "                            counted up from --bind)\n"
    "      --silent N            N more addresses (or ports) that take connections and never\n"
    "                            answer any request\n"
    "      --closed N            N more addresses (or ports) nobody listens on: connections to\n"
    "                            them are refused. Silent and closed ones are spread evenly\n"
    "                            among the cameras, and listed at start\n"
    "  -p, --port N              port to listen on (default 8080; 0 picks a free one for\n"
    "                            each camera)\n"
    "  -b, --bind ADDR           address to listen on, the first of them with --consecutive\n"
    "                            addresses (default 127.0.0.1); a loopback address (127.x.y.z,\n"
    "                            ::1, localhost) unless --allow-non-loopback\n"
    "      --allow-non-loopback  listen on ADDR even though other machines may reach it\n"
    "  -u, --user NAME           user ID uploads must carry (default admin)\n"
    "  -w, --password TEXT       password uploads must carry (default password)\n"
    "  -r, --restart-seconds S   busy time after an accepted upload (default 2)\n"
    "  -s, --save-dir DIR        save accepted firmware files in DIR, written as they arrive;\n"
    "                            with several cameras in DIR/PORT (DIR/ADDRESS with\n"
    "                            --consecutive addresses)\n"
    "      --busy-mode MODE      how requests fail while restarting: error (503, default),\n"
    "                            close (connection closed), qid (model answer \"QID:...\"),\n"
    "                            silent (read and never answered)\n"
    "      --fault NAME          may be repeated:\n"
    "                              reject-credentials   every upload gets 401\n"
    "                              refuse-upload        200 without the accept marker\n"
    "                              upload-error         500 on upload\n"
    "                              drop-upload=BYTES    close the connection after BYTES body bytes\n"
    "                              answer-early         accept page after the upload's head, then\n"
    "                                                   close with the body unread (not accepted)\n"
    "                              never-return         stay busy after an accepted upload\n"
    "                              silent-model         model inquiry read, never answered\n"
    "                              silent-version       version inquiries read, never answered\n"
    "                              silent-upload        upload body read whole, never answered\n"
    "                              silent-other         any other request read, never answered\n"
    "                              model-crlf           model answer ends in CR LF\n"
    "                              version-wrong-prefix version answer starts with another digit\n"
    "                              version-short        version answer shorter than ten characters\n"
    "                            A silent request's connection stays open until the client\n"
    "                            closes it; at most 8 are held per camera, later ones are closed.\n"
    "      --delay KIND=MS       delay before answering; KIND is model, version or upload\n"
    "      --read-rate BYTES     read request bodies at BYTES per second (default: at once)\n"
    "  -q, --quiet               do not print each request\n"
    "  -h, --help                show this help\n"
    "      --version             show the version\n"
    "\n"
    "A fleet of more than 64 addresses is summed up at start instead of listed; the silent and\n"
    "closed ones are still listed when there are at most 64 of each. All cameras share a few\n"
    "threads; each address takes one open file and each connection another.\n";

// Beyond this many addresses the start is summed up, not listed line by line.
constexpr long kListedAddresses = 64;
constexpr long kMaxAddresses = 4096;

enum class Slot { Camera, Silent, Closed };

const char* kindName(SimRequestKind k)
{
    switch (k) {
    case SimRequestKind::ModelInquiry: return "model";
    case SimRequestKind::VersionInquiry: return "version";
    case SimRequestKind::Upload: return "upload";
    case SimRequestKind::Other: break;
    }
    return "other";
}

[[noreturn]] void usageError(const std::string& what)
{
    std::cerr << "kelvora-camsim: " << what << "\nTry 'kelvora-camsim --help'.\n";
    std::exit(2);
}

long number(const std::string& text, const std::string& option)
{
    try {
        std::size_t used = 0;
        const long v = std::stol(text, &used);
        if (used == text.size() && v >= 0)
            return v;
    } catch (const std::exception&) {
    }
    usageError("bad number for " + option + ": " + text);
}

bool applyFault(SimFaults& f, const std::string& name)
{
    if (name == "reject-credentials")
        f.rejectCredentials = true;
    else if (name == "refuse-upload")
        f.upload = SimUploadFault::Refuse;
    else if (name == "upload-error")
        f.upload = SimUploadFault::ServerError;
    else if (name.rfind("drop-upload=", 0) == 0) {
        f.upload = SimUploadFault::DropConnection;
        f.dropAfterBodyBytes = static_cast<std::size_t>(number(name.substr(12), "drop-upload"));
    } else if (name == "answer-early")
        f.upload = SimUploadFault::AnswerEarly;
    else if (name == "never-return")
        f.upload = SimUploadFault::NeverReturn;
    else if (name == "silent-model")
        f.silentModel = true;
    else if (name == "silent-version")
        f.silentVersion = true;
    else if (name == "silent-upload")
        f.silentUpload = true;
    else if (name == "silent-other")
        f.silentOther = true;
    else if (name == "model-crlf")
        f.modelAnswerCrLf = true;
    else if (name == "version-wrong-prefix")
        f.versionWrongPrefix = true;
    else if (name == "version-short")
        f.versionShort = true;
    else
        return false;
    return true;
}

std::vector<std::string> commaList(const std::string& text)
{
    std::vector<std::string> out;
    std::size_t at = 0;
    for (;;) {
        const auto comma = text.find(',', at);
        out.push_back(text.substr(at, comma == std::string::npos ? std::string::npos : comma - at));
        if (comma == std::string::npos)
            return out;
        at = comma + 1;
    }
}

std::string modelText(int id)
{
    return modelDisplayName(id).toStdString() + " (" + modelIdName(id).toStdString() + ")";
}

bool loopbackAddress(const std::string& host)
{
    in_addr v4{};
    in6_addr v6{};
    if (inet_pton(AF_INET, host.c_str(), &v4) == 1)
        return (ntohl(v4.s_addr) >> 24) == 127;
    if (inet_pton(AF_INET6, host.c_str(), &v6) == 1)
        return IN6_IS_ADDR_LOOPBACK(&v6) || (IN6_IS_ADDR_V4MAPPED(&v6) && v6.s6_addr[12] == 127);
    return host == "localhost";
}

std::string ipv4Text(std::uint32_t address)
{
    in_addr a{};
    a.s_addr = htonl(address);
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &a, text, sizeof text);
    return text;
}

// Closed slots spread evenly over all of them, silent ones evenly over the rest.
std::vector<Slot> layOut(long cameras, long silent, long closed)
{
    const long total = cameras + silent + closed;
    std::vector<Slot> layout(static_cast<std::size_t>(total), Slot::Camera);
    for (long k = 0; k < closed; ++k)
        layout.at(static_cast<std::size_t>((2 * k + 1) * total / (2 * closed))) = Slot::Closed;
    const long open = total - closed;
    long nextSilent = 0;
    long openIndex = 0;
    for (Slot& slot : layout) {
        if (slot == Slot::Closed)
            continue;
        if (nextSilent < silent && openIndex == (2 * nextSilent + 1) * open / (2 * silent)) {
            slot = Slot::Silent;
            ++nextSilent;
        }
        ++openIndex;
    }
    return layout;
}

// Each address takes a descriptor, and each connection to it another.
void raiseOpenFileLimit(long addresses)
{
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) != 0)
        return;
    if (files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &files);
        ::getrlimit(RLIMIT_NOFILE, &files);
    }
    const rlim_t needed = rlim_t(2 * addresses + 64);
    if (files.rlim_cur != RLIM_INFINITY && files.rlim_cur < needed) {
        std::cerr << "kelvora-camsim: " << addresses << " listening addresses need about " << needed
                  << " open files (one each and one per connection), but this process may open only "
                  << files.rlim_cur << ".\nRaise the limit (ulimit -n; its hard limit in "
                  << "/etc/security/limits.conf) or run fewer cameras.\n";
        std::exit(1);
    }
}

} // namespace

int main(int argc, char** argv)
{
    std::string model = "TK300";
    long cameras = 1;
    int port = 8080;
    std::string bind = "127.0.0.1";
    std::string user = "admin";
    std::string password = "password";
    double restartSeconds = 2.0;
    std::string saveDir;
    SimBusyMode busyMode = SimBusyMode::HttpError;
    SimFaults faults;
    bool quiet = false;
    bool consecutiveAddresses = false;
    long silent = 0;
    long closed = 0;
    bool allowNonLoopback = false;

    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                usageError("missing value for " + arg);
            return argv[++i];
        };
        if (arg == "-h" || arg == "--help") {
            std::cout << kUsage;
            return 0;
        } else if (arg == "--version") {
            std::cout << "kelvora-camsim " KELVORA_VERSION "\n";
            return 0;
        } else if (arg == "-m" || arg == "--model") {
            model = value();
        } else if (arg == "-n" || arg == "--cameras") {
            cameras = number(value(), arg);
            if (cameras < 1 || cameras > kMaxAddresses)
                usageError("number of cameras out of range (1.." + std::to_string(kMaxAddresses) + ")");
        } else if (arg == "--consecutive") {
            const std::string v = value();
            if (v != "ports" && v != "addresses")
                usageError("--consecutive takes ports or addresses, not " + v);
            consecutiveAddresses = v == "addresses";
        } else if (arg == "--silent") {
            silent = number(value(), arg);
        } else if (arg == "--closed") {
            closed = number(value(), arg);
        } else if (arg == "--allow-non-loopback") {
            allowNonLoopback = true;
        } else if (arg == "-p" || arg == "--port") {
            const long p = number(value(), arg);
            if (p > 65535)
                usageError("port out of range");
            port = static_cast<int>(p);
        } else if (arg == "-b" || arg == "--bind") {
            bind = value();
        } else if (arg == "-u" || arg == "--user") {
            user = value();
        } else if (arg == "-w" || arg == "--password") {
            password = value();
        } else if (arg == "-r" || arg == "--restart-seconds") {
            const std::string v = value();
            try {
                restartSeconds = std::stod(v);
            } catch (const std::exception&) {
                restartSeconds = -1;
            }
            if (restartSeconds < 0)
                usageError("bad number for " + arg + ": " + v);
        } else if (arg == "-s" || arg == "--save-dir") {
            saveDir = value();
        } else if (arg == "--busy-mode") {
            const std::string v = value();
            if (v == "error")
                busyMode = SimBusyMode::HttpError;
            else if (v == "close")
                busyMode = SimBusyMode::CloseConnection;
            else if (v == "qid")
                busyMode = SimBusyMode::QidAnswer;
            else if (v == "silent")
                busyMode = SimBusyMode::Silent;
            else
                usageError("unknown busy mode: " + v);
        } else if (arg == "--fault") {
            const std::string v = value();
            if (!applyFault(faults, v))
                usageError("unknown fault: " + v);
        } else if (arg == "--delay") {
            const std::string v = value();
            const auto eq = v.find('=');
            const std::string kind = v.substr(0, eq);
            const int ms = eq == std::string::npos ? -1 : static_cast<int>(number(v.substr(eq + 1), arg));
            if (kind == "model" && ms >= 0)
                faults.modelDelayMs = ms;
            else if (kind == "version" && ms >= 0)
                faults.versionDelayMs = ms;
            else if (kind == "upload" && ms >= 0)
                faults.uploadDelayMs = ms;
            else
                usageError("bad delay: " + v);
        } else if (arg == "--read-rate") {
            faults.uploadReadBytesPerSecond = static_cast<std::size_t>(number(value(), arg));
        } else if (arg == "-q" || arg == "--quiet") {
            quiet = true;
        } else {
            usageError("unknown option: " + arg);
        }
    }
    const long total = cameras + silent + closed;
    if (total > kMaxAddresses)
        usageError("more than " + std::to_string(kMaxAddresses) + " addresses in all");
    if (!allowNonLoopback && !loopbackAddress(bind))
        usageError(bind + " is not a loopback address; add --allow-non-loopback to listen there");
    std::uint32_t firstAddress = 0;
    if (consecutiveAddresses) {
        in_addr a{};
        if (inet_pton(AF_INET, bind.c_str(), &a) != 1)
            usageError("--consecutive addresses counts up from an IPv4 address, not " + bind);
        firstAddress = ntohl(a.s_addr);
        const std::uint64_t last = std::uint64_t(firstAddress) + std::uint64_t(total) - 1;
        if (last > 0xffffffffu || (!allowNonLoopback && (last >> 24) != 127))
            usageError("addresses from " + bind + " on run out of the loopback network 127.0.0.0/8");
    } else {
        if (port != 0 && port + total - 1 > 65535)
            usageError("ports out of range");
        if (port == 0 && closed > 0)
            usageError("--closed needs a port: with port 0 there is no port to leave closed");
    }
    raiseOpenFileLimit(total - closed);

    const std::vector<Slot> layout = layOut(cameras, silent, closed);
    std::vector<int> models;
    for (const std::string& name : commaList(model)) {
        std::string why;
        models.push_back(simModelFromText(name, &why));
        if (!models.back())
            usageError(why);
    }
    const bool fleet = total > 1;
    struct Place {
        Slot slot;
        std::string host;
        int port;
    };
    std::vector<Place> places;
    std::vector<std::unique_ptr<CameraSim>> sims;
    std::vector<std::size_t> placeOf; // of each sim
    long answering = 0;
    for (std::size_t i = 0; i < layout.size(); ++i) {
        const Place place{layout[i], consecutiveAddresses ? ipv4Text(firstAddress + std::uint32_t(i)) : bind,
                          consecutiveAddresses || port == 0 ? port : port + int(i)};
        places.push_back(place);
        if (place.slot == Slot::Closed)
            continue;
        auto sim = std::make_unique<CameraSim>();
        SimFaults these = faults;
        if (place.slot == Slot::Silent) {
            // An address that takes connections and answers nothing at all.
            these = SimFaults{};
            these.silentModel = these.silentVersion = these.silentUpload = these.silentOther = true;
        } else {
            sim->setModel(models[static_cast<std::size_t>(answering++) % models.size()]);
        }
        sim->setCredentials(user, password);
        sim->setRestartTime(std::chrono::milliseconds(static_cast<long long>(restartSeconds * 1000)));
        sim->setBusyMode(busyMode);
        sim->setFaults(these);
        // A long run keeps no upload bytes in memory; saved files go to disk as they arrive.
        sim->setRecordRawBodies(false);
        sim->setKeepUploadContent(false);
        sims.push_back(std::move(sim));
        placeOf.push_back(i);
    }

    static std::mutex printLock;
    if (!quiet) {
        for (const auto& sim : sims) {
            CameraSim* camera = sim.get();
            sim->setRequestObserver([camera, fleet](const SimRequest& r) {
                std::lock_guard<std::mutex> lock(printLock);
                std::cout << "camsim" << (fleet ? " " + camera->address() : std::string()) << ": " << r.method << ' '
                          << r.target << " [" << kindName(r.kind) << "] -> "
                          << (r.held ? std::string("held, no answer")
                                  : r.status == 0 ? std::string("closed")
                                                  : std::to_string(r.status));
                if (r.upload) {
                    std::cout << " (" << r.upload->bodySize << " body bytes";
                    if (!r.upload->firmwarePart.empty())
                        std::cout << ", " << r.upload->firmwarePart << "=\"" << r.upload->firmwareName << "\"";
                    if (!r.upload->component.empty())
                        std::cout << ", " << r.upload->component << ' ' << r.upload->version;
                    if (!r.upload->savedPath.empty())
                        std::cout << ", saved " << r.upload->savedPath;
                    if (r.upload->accepted)
                        std::cout << ", restarting";
                    std::cout << ')';
                }
                std::cout << std::endl;
            });
        }
    }

    // Signals are taken by sigwait below; block them before any server thread exists.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    const auto started = std::chrono::steady_clock::now();
    for (std::size_t i = 0; i < sims.size(); ++i) {
        Place& place = places[placeOf[i]];
        const int bound = sims[i]->start(place.port, place.host);
        if (bound < 0) {
            std::cerr << "kelvora-camsim: cannot listen on " << place.host << ':' << place.port << '\n';
            return 1;
        }
        place.port = bound;
        std::string dir = saveDir;
        if (fleet && !dir.empty() && place.slot == Slot::Camera) {
            dir += "/" + (consecutiveAddresses ? place.host : std::to_string(bound));
            if (::mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST) {
                std::cerr << "kelvora-camsim: cannot create " << dir << '\n';
                return 1;
            }
        }
        sims[i]->setSaveDirectory(dir);
    }
    const double startMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
    {
        std::lock_guard<std::mutex> lock(printLock);
        auto where = [](const Place& p) { return p.host + ":" + std::to_string(p.port); };
        if (!fleet) {
            std::cout << "Simulated camera " << modelText(sims[0]->model()) << '\n'
                      << "address: " << sims[0]->address() << '\n';
        } else if (total <= kListedAddresses) {
            std::cout << "Simulated cameras: " << cameras << '\n';
            for (std::size_t i = 0, sim = 0; i < places.size(); ++i) {
                const Place& p = places[i];
                if (p.slot == Slot::Camera)
                    std::cout << "camera: " << where(p) << ' ' << modelText(sims[sim]->model()) << '\n';
                else
                    std::cout << (p.slot == Slot::Silent ? "silent: " : "closed: ") << where(p) << '\n';
                sim += p.slot != Slot::Closed;
            }
        } else {
            std::map<int, long> byModel;
            for (std::size_t i = 0; i < sims.size(); ++i) {
                if (places[placeOf[i]].slot == Slot::Camera)
                    ++byModel[sims[i]->model()];
            }
            std::cout << "Simulated cameras: " << cameras << ", silent " << silent << ", closed " << closed
                      << " (listening after " << long(startMs) << " ms)\n";
            for (const auto& [id, n] : byModel)
                std::cout << "model: " << modelText(id) << ' ' << n << '\n';
            if (consecutiveAddresses)
                std::cout << "addresses: " << places.front().host << " to " << places.back().host << ", port "
                          << (port == 0 ? std::string("a free one each") : std::to_string(port)) << '\n';
            else
                std::cout << "address: " << bind << ", ports "
                          << (port == 0 ? std::string("free ones") : std::to_string(port) + " to " + std::to_string(port + total - 1))
                          << '\n';
            for (const Slot kind : {Slot::Silent, Slot::Closed}) {
                const long n = kind == Slot::Silent ? silent : closed;
                if (n == 0)
                    continue;
                std::cout << (kind == Slot::Silent ? "silent:" : "closed:");
                if (n > kListedAddresses)
                    std::cout << ' ' << n << " addresses spread evenly";
                for (std::size_t i = 0; n <= kListedAddresses && i < places.size(); ++i) {
                    if (places[i].slot == kind)
                        std::cout << ' ' << where(places[i]);
                }
                std::cout << '\n';
            }
        }
        std::cout << "user: " << user << '\n'
                  << "password: " << password << '\n'
                  << "restart: " << restartSeconds << " s\n";
        if (!saveDir.empty())
            std::cout << "saving firmware to: " << saveDir
                      << (!fleet ? "" : consecutiveAddresses ? "/ADDRESS" : "/PORT") << '\n';
        std::cout << "Type the address into Kelvora; stop with Ctrl+C." << std::endl;
    }

    int sig = 0;
    sigwait(&stopSignals, &sig);
    // Each stop ends its connections at once, held ones too: one after the other is quick.
    for (const auto& sim : sims)
        sim->stop();
    std::cout << "camsim: stopped" << std::endl;
    return 0;
}
