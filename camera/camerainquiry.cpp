#include "camera/camerainquiry.h"

#include "camera/inquiryreply.h"

#include <QNetworkAccessManager>

#include <utility>

CameraInquiry::CameraInquiry(QObject* parent, QNetworkAccessManager* manager)
    : QObject(parent)
    , m_manager(manager)
{
    if (!m_manager) {
        m_manager = new QNetworkAccessManager(this);
        m_ownManager = true;
        // The camera's own answer is judged: a redirect is an answer, not a hop.
        m_manager->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
        connect(m_manager, &QNetworkAccessManager::finished, this, &CameraInquiry::handleReply);
    }
}

CameraInquiry::~CameraInquiry()
{
    if (m_ownManager)
        m_manager->disconnect(this);
    // What is still out on connections of its own is let go of here, unjudged.
    if (m_routeReplies) {
        for (const QPointer<QNetworkReply>& reply : std::exchange(m_out, {})) {
            if (!reply)
                continue;
            reply->disconnect(this);
            reply->abort();
            reply->deleteLater();
        }
    }
}

void CameraInquiry::useOwnConnections()
{
    if (m_ownManager) {
        delete m_manager;
        m_ownManager = false;
    }
    m_manager = nullptr;
    m_routeReplies = true;
    if (!m_connections)
        m_connections = new InquiryConnections(this);
}

void CameraInquiry::bindRecords(int* index, int* qid, cam_info* camera)
{
    m_index = index;
    m_qid = qid;
    m_camera = camera;
}

QString CameraInquiry::failureText() const
{
    switch (m_failure) {
    case Failure::Answer:
        return QStringLiteral("not a camera of this family");
    case Failure::Network:
        if (m_httpStatus >= 400)
            return QStringLiteral("HTTP %1 answer: not a camera of this family").arg(m_httpStatus);
        switch (m_networkError) {
        case QNetworkReply::ConnectionRefusedError: return QStringLiteral("connection refused");
        case QNetworkReply::OperationCanceledError:
            return QStringLiteral("no answer within %1 s").arg(kInquiryTimeoutMs / 1000);
        case QNetworkReply::HostNotFoundError: return QStringLiteral("host not found");
        case QNetworkReply::RemoteHostClosedError: return QStringLiteral("connection closed without an answer");
        case QNetworkReply::TimeoutError: return QStringLiteral("no answer");
        default: return QStringLiteral("network error %1").arg(int(m_networkError));
        }
    case Failure::None:
        break;
    }
    if (!m_ended)
        return QStringLiteral("no answer yet");
    return isValidModelId(m_camera->ModelID) ? QString() : QStringLiteral("unknown model");
}

void CameraInquiry::start(const QString& address)
{
    abort();
    m_address = address;
    m_failure = Failure::None;
    m_networkError = QNetworkReply::NoError;
    m_httpStatus = 0;
    m_ended = false;
    *m_index = kInquiryModel;
    *m_qid = CAM_QID_NONE;
    resetCamInfo(*m_camera);
    send(address, kInquiryModel);
}

void CameraInquiry::send(const QString& address, int n)
{
    m_log.line("■DEBUG■mw_ReqCam()");
    m_log.value(address);
    const QByteArray url = inquiryUrlBytes(address, n);
    m_log.value(url);
    QNetworkReply* reply = m_routeReplies ? sendInquiry(this, url, m_connections) : getInquiry(m_manager, url);
    if (m_routeReplies)
        connect(reply, &QNetworkReply::finished, this, [this, reply] { handleReply(reply); });
    m_out.append(reply);
}

void CameraInquiry::handleReply(QNetworkReply* reply)
{
    endInquiryBound(reply);
    if (!m_out.removeOne(reply)) {
        // Aborted, or not sent by this inquiry.
        reply->deleteLater();
        return;
    }
    m_log.line("■DEBUG■MW_CAM_finished()");
    const QNetworkReply::NetworkError error = reply->error();
    m_log.value(int(error));
    const bool failed = error != QNetworkReply::NoError;
    const QByteArray body = failed ? QByteArray() : reply->readAll();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    // Everything needed is read: release it now, before any nested loop of a front end.
    reply->deleteLater();

    const InquiryDecision d = judgeInquiryAnswer(*m_index, *m_qid, failed, body);
    if (d.outcome == InquiryOutcome::NetworkFailed) {
        m_log.line("Camera Err2");
        m_failure = Failure::Network;
        m_networkError = error;
        m_httpStatus = status;
        m_ended = true;
        clearAfterFailure();
        emit done();
        return;
    }
    if (d.outcome == InquiryOutcome::AnswerFailed) {
        m_failure = Failure::Answer;
        m_ended = true;
        clearAfterFailure();
        m_log.line("Camera Err1");
        answerRefused();
        emit done();
        return;
    }

    *m_qid = d.qid;
    m_log.line(d.tag);
    if (d.slot) {
        (*m_camera).*(d.slot->field) = d.version;
        m_log.value(d.version);
        emit versionStored(d.slot, d.version);
    }
    if (d.resetTk300Labels)
        emit tk300Skipped();
    *m_index = d.next;

    if (d.outcome == InquiryOutcome::Next) {
        m_log.line("Camera NEXT");
        sendNext(*m_index);
        return;
    }
    sequenceComplete();
    m_log.line("■DEBUG■NOTERR");
    m_log.line("Camera END");
    m_failure = Failure::None;
    m_ended = true;
    emit done();
}

int CameraInquiry::identify()
{
    m_log.line("■DEBUG■mw_SetModel()");
    m_log.value(m_camera->Ver_CameraCPU);
    m_log.value(m_camera->Ver_OutputFPGA);
    const ModelIdentification found = identifyModel(*m_qid, m_camera->Ver_CameraCPU, m_camera->Ver_OutputFPGA);
    m_log.line(QStringLiteral("■DEBUG■") + found.tag);
    m_camera->ModelID = found.modelId;
    return found.modelId;
}

void CameraInquiry::abort()
{
    // Their finished replies come back through handleReply, which lets them go unjudged.
    const QList<QPointer<QNetworkReply>> out = std::exchange(m_out, {});
    for (const QPointer<QNetworkReply>& reply : out)
        if (reply)
            reply->abort();
}

void CameraInquiry::clearAfterFailure()
{
    *m_index = kInquiryModel;
    *m_qid = CAM_QID_NONE;
    resetCamInfo(*m_camera);
}

void CameraInquiry::sendNext(int n)
{
    send(m_address, n);
}

void CameraInquiry::sequenceComplete()
{
    identify();
}
