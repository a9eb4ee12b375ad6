#ifndef KELVORA_SIM_CAMERASIM_H
#define KELVORA_SIM_CAMERASIM_H

// A simulated QV camera: a real HTTP server on loopback that answers the model and
// version inquiries, takes firmware uploads with Basic credentials, restarts after an
// accepted upload and logs every request with its raw bytes. It can also fail the way a
// network fails: answer nothing, answer before the body, read slowly, vanish and come
// back. Thread-safe. Every camera of a process is served by the same few threads (see
// sim/simloop.h), whatever their number; none of them touch Qt.

#include "sim/simprofiles.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

enum class SimRequestKind {
    ModelInquiry,   // GET /cgi-bin/qv_cam?cmd=QID&res=1
    VersionInquiry, // GET /cgi-bin/qv_ptz?cmd=%23QSVn&res=1
    Upload,         // any POST
    Other,
};

// How the camera fails requests while it restarts.
enum class SimBusyMode {
    HttpError,       // 503
    CloseConnection, // connection closed without an answer
    QidAnswer,       // model inquiry answered "QID:RESTARTING", other requests 503
    Silent,          // every request read and held unanswered (see SimFaults::silentModel)
};

enum class SimUploadFault {
    None,
    Refuse,         // 200 whose body lacks the accept marker
    ServerError,    // 500
    DropConnection, // connection closed after SimFaults::dropAfterBodyBytes body bytes
    NeverReturn,    // accepted, then busy until finishRestartNow()
    // Once the request head is read: the accepted page (200 with the family's marker, and
    // "Connection: close"), then the connection is closed with the body unread; body bytes
    // already in the kernel make that close a reset. Counts as not accepted: no restart.
    AnswerEarly,
};

struct SimFaults {
    bool rejectCredentials = false; // every Authorization is refused with 401
    SimUploadFault upload = SimUploadFault::None;
    std::size_t dropAfterBodyBytes = 0;
    bool modelAnswerCrLf = false;    // "OID:QV-TK10\r\n"
    bool versionWrongPrefix = false; // "qSV" and the next digit instead of the one asked
    bool versionShort = false;       // "qSV3V02": right prefix, fewer than ten characters
    int modelDelayMs = 0;            // delay before answering, per request kind
    int versionDelayMs = 0;
    int uploadDelayMs = 0;
    // A silent request is read and never answered: the connection stays open until the
    // client closes it or the sim stops. At most 8 are held at once per camera; beyond that a
    // silent request's connection is closed without an answer (logged with status 0). A held
    // request keeps a descriptor, no thread.
    bool silentModel = false;   // model inquiries
    bool silentVersion = false; // version inquiries
    bool silentUpload = false;  // any POST, after its whole body has been read
    bool silentOther = false;   // any other request (all four: an address that never answers)
    std::size_t uploadReadBytesPerSecond = 0; // request bodies are read at this rate; 0 = at once
};

struct SimPart {
    std::string name;
    std::string filename;
    std::string contentType;
    std::string content; // emptied when upload content is not kept
    std::size_t size = 0;
};

struct SimUpload {
    std::string body;           // raw body bytes as received; empty when raw recording is off
    bool bodyRecorded = false;
    std::size_t bodySize = 0;   // body bytes received
    std::vector<SimPart> parts; // as cpp-httplib's multipart parser returned them, in order
    std::string firmwarePart;   // part taken as the firmware file ("file_soft", "file_camera", "fw_path")
    std::string firmwareName;   // its filename as sent
    std::string savedPath;      // where it was saved, if a save directory is set
    std::string component;      // from the firmware's first line, if any
    std::string version;
    bool accepted = false;      // taken, camera restarting
};

struct SimRequest {
    std::uint64_t seq = 0;  // arrival order, from 1
    std::string method;
    std::string target;     // request target exactly as sent, e.g. "/cgi-bin/qv_ptz?cmd=%23QSV3&res=1"
    std::string path;       // decoded path
    SimRequestKind kind = SimRequestKind::Other;
    std::string rawHead;    // request line, headers and the blank line, byte for byte
    std::string requestLine;
    std::vector<std::pair<std::string, std::string>> headers; // in the order sent
    int status = -1;        // answer status; 0 = closed without answer; -1 = not answered by the sim
    bool held = false;      // silent: kept open unanswered (status stays -1)
    std::string answer;     // answer body
    std::shared_ptr<const SimUpload> upload; // set for POST requests
};

class CameraSim {
public:
    CameraSim();
    ~CameraSim();
    CameraSim(const CameraSim&) = delete;
    CameraSim& operator=(const CameraSim&) = delete;

    // Listens on bindAddress:port (0 = any free port); returns the bound port or -1.
    // start(port()) right after stop() takes the same port again; the camera's state
    // (model, versions, restart, log, counters) carries over.
    int start(int port = 0, const std::string& bindAddress = "127.0.0.1");
    // Closes the port and ends open connections (held ones too); returns once all are closed.
    // Not from the request observer: that runs on the thread stop() waits for.
    void stop();
    bool isRunning() const;
    int port() const;
    std::string address() const; // "127.0.0.1:port", what an operator types into the tool

    // Selects a profile, restores its versions and ends any restart.
    bool setModel(int modelId);
    bool setModel(const std::string& name); // see simModelFromText()
    int model() const;
    std::string version(int qsv) const;
    void setVersion(int qsv, const std::string& version);

    void setCredentials(const std::string& user, const std::string& password);
    void setFaults(const SimFaults& faults);
    SimFaults faults() const;

    void setRestartTime(std::chrono::milliseconds busy);
    void setBusyMode(SimBusyMode mode);
    bool isRestarting() const;
    // Ends the restart at once, applying any firmware version it was waiting for.
    void finishRestartNow();

    // Accepted firmware files are written here under their base name (empty = not saved).
    // With upload content not kept, a file goes to disk as it arrives (a hidden
    // ".camsim-*.part" file there, renamed when accepted, removed otherwise).
    void setSaveDirectory(const std::string& dir);
    // Keep raw body bytes in the log (default on; switch off for large uploads).
    void setRecordRawBodies(bool on);
    // Keep part contents in the log (default on).
    void setKeepUploadContent(bool on);

    std::vector<SimRequest> requests() const;
    std::vector<SimRequest> uploads() const;
    void clearLog();
    // Silent requests being held unanswered right now.
    std::size_t heldRequests() const;
    // TCP payload bytes that have reached this camera's machine on all its connections
    // since construction, including bytes still waiting in the kernel unread (Linux
    // TCP_INFO). Bytes a client queued but never sent are not counted. Any thread, any time.
    std::uint64_t bytesReceived() const;
    // Called on a server thread after each request has been answered (a held one: released).
    // It runs on the thread that serves this camera and its neighbours: it must not block.
    void setRequestObserver(std::function<void(const SimRequest&)> observer);

    struct Impl;

private:
    std::unique_ptr<Impl> d;
};

// "Basic " + Base64 of "user:password", as the tool sends it.
std::string simBasicAuthorization(const std::string& user, const std::string& password);

#endif
