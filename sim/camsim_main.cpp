// kelvora-camsim: runs one simulated camera, or a fleet of them, until SIGINT or SIGTERM.

#include "camera/caminfo.h"
#include "sim/camerasim.h"
#include "kelvora/version.h"

#include <sys/stat.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

const char* kUsage =
    "Usage: kelvora-camsim [options]\n"
    "Simulated QV camera for Kelvora: answers the model and version inquiries and takes\n"
    "firmware uploads over HTTP. With --cameras it runs a fleet of them.\n"
    "\n"
    "  -m, --model NAME|ID[,...] profile: TK10, TKD7_S, TKD7_H, TK300, OLD_TK20_S, OLD_TK20_H,\n"
    "                            NEW_TK20_S, NEW_TK20_H, OLD_TK15_S, OLD_TK15_H, NEW_TK15_S,\n"
    "                            NEW_TK15_H (also QV_... or CAM_MODELID_QV_...), or 1..12\n"
    "                            (default TK300); a comma list gives the cameras their\n"
    "                            models in turn\n"
    "  -n, --cameras N           run N cameras on consecutive ports from --port (default 1);\n"
    "                            every other option applies to each of them\n"
    "  -p, --port N              port to listen on (default 8080; 0 picks a free one for\n"
    "                            each camera)\n"
    "  -b, --bind ADDR           address to listen on (default 127.0.0.1)\n"
    "  -u, --user NAME           user ID uploads must carry (default admin)\n"
    "  -w, --password TEXT       password uploads must carry (default password)\n"
    "  -r, --restart-seconds S   busy time after an accepted upload (default 2)\n"
    "  -s, --save-dir DIR        save accepted firmware files in DIR, written as they arrive;\n"
    "                            with several cameras in DIR/PORT\n"
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
    "                              model-crlf           model answer ends in CR LF\n"
    "                              version-wrong-prefix version answer starts with another digit\n"
    "                              version-short        version answer shorter than ten characters\n"
    "                            A silent request's connection stays open until the client\n"
    "                            closes it; at most 8 are held per camera, later ones are closed.\n"
    "      --delay KIND=MS       delay before answering; KIND is model, version or upload\n"
    "      --read-rate BYTES     read request bodies at BYTES per second (default: at once)\n"
    "  -q, --quiet               do not print each request\n"
    "  -h, --help                show this help\n"
    "      --version             show the version\n";

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
            if (cameras < 1 || cameras > 256)
                usageError("number of cameras out of range (1..256)");
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
    if (port != 0 && port + cameras - 1 > 65535)
        usageError("ports out of range");

    const std::vector<std::string> models = commaList(model);
    const bool fleet = cameras > 1;
    std::vector<std::unique_ptr<CameraSim>> sims;
    for (long i = 0; i < cameras; ++i) {
        auto sim = std::make_unique<CameraSim>();
        const std::string& name = models[static_cast<std::size_t>(i) % models.size()];
        if (!sim->setModel(name))
            usageError("unknown model: " + name);
        sim->setCredentials(user, password);
        sim->setRestartTime(std::chrono::milliseconds(static_cast<long long>(restartSeconds * 1000)));
        sim->setBusyMode(busyMode);
        sim->setFaults(faults);
        // A long run keeps no upload bytes in memory; saved files go to disk as they arrive.
        sim->setRecordRawBodies(false);
        sim->setKeepUploadContent(false);
        sims.push_back(std::move(sim));
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

    for (std::size_t i = 0; i < sims.size(); ++i) {
        const int wanted = port == 0 ? 0 : port + static_cast<int>(i);
        const int bound = sims[i]->start(wanted, bind);
        if (bound < 0) {
            std::cerr << "kelvora-camsim: cannot listen on " << bind << ':' << wanted << '\n';
            return 1;
        }
        std::string dir = saveDir;
        if (fleet && !dir.empty()) {
            dir += "/" + std::to_string(bound);
            if (::mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST) {
                std::cerr << "kelvora-camsim: cannot create " << dir << '\n';
                return 1;
            }
        }
        sims[i]->setSaveDirectory(dir);
    }
    {
        std::lock_guard<std::mutex> lock(printLock);
        if (fleet) {
            std::cout << "Simulated cameras: " << sims.size() << '\n';
            for (const auto& sim : sims)
                std::cout << "camera: " << sim->address() << ' ' << modelText(sim->model()) << '\n';
        } else {
            std::cout << "Simulated camera " << modelText(sims[0]->model()) << '\n'
                      << "address: " << sims[0]->address() << '\n';
        }
        std::cout << "user: " << user << '\n'
                  << "password: " << password << '\n'
                  << "restart: " << restartSeconds << " s\n";
        if (!saveDir.empty())
            std::cout << "saving firmware to: " << saveDir << (fleet ? "/PORT" : "") << '\n';
        std::cout << "Type the address into Kelvora; stop with Ctrl+C." << std::endl;
    }

    int sig = 0;
    sigwait(&stopSignals, &sig);
    std::vector<std::thread> stopping;
    for (const auto& sim : sims)
        stopping.emplace_back([camera = sim.get()] { camera->stop(); });
    for (std::thread& t : stopping)
        t.join();
    std::cout << "camsim: stopped" << std::endl;
    return 0;
}
