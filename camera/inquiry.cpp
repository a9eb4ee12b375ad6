#include "camera/inquiry.h"

#include "camera/inquiryreply.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

#include <array>

namespace {

constexpr std::array<InquiryVersionSlot, 9> kVersionSlots{{
    {1, "qSV0", &cam_info::Ver_PanTiltCPU, "IP_CPU_ServoVer", "■DEBUG■Ver_PanTiltCPU"},
    {2, "qSV1", &cam_info::Ver_CameraCPU, "IP_CPU_CamMainVer", "■DEBUG■Ver_CameraCPU"},
    {3, "qSV2", &cam_info::Ver_CameraPLD, "IP_FPGA_FrontVer", "■DEBUG■Ver_CameraPLD"},
    {4, "qSV3", &cam_info::Ver_NetworkCPU, "IP_CPU_NetworkSoftVer", "■DEBUG■Ver_NetworkCPU"},
    {5, "qSV4", &cam_info::Ver_OutputFPGA, "IP_FPGA_BackendVer", "■DEBUG■Ver_OutputFPGA"},
    {6, "qSV5", &cam_info::Ver_TK300_InterfaceCPU, "IP_CPU_InterfaceVer", "■DEBUG■Ver_TK300_InterfaceCPU"},
    {7, "qSV6", &cam_info::Ver_TK300_LensFPGA, "IP_FPGA_LensVer", "■DEBUG■Ver_TK300_LensFPGA"},
    {8, "qSV7", &cam_info::Ver_TK300_InterfaceEEPROM, "IP_EEPROM_InterfaceVer", "■DEBUG■Ver_TK300_InterfaceEEPROM"},
    {9, "qSV8", &cam_info::Ver_CameraEEPROM, "IP_EEPROM_CamMainVer", "■DEBUG■Ver_CameraEEPROM"},
}};

struct ModelAnswer {
    const char* text;
    int qid;
    const char* tag;
};

// Compared in this order; a match must be the whole answer.
constexpr std::array<ModelAnswer, 3> kModelAnswers{{
    {"OID:QV-TK20", CAM_QID_TK20, "■DEBUG■MW_CAM_MODEL_QID_QV_TK20()"},
    {"OID:QV-TK10", CAM_QID_TK10, "■DEBUG■MW_CAM_MODEL_QID_QV_TK10()"},
    {"OID:QV-TK300", CAM_QID_TK300, "■DEBUG■MW_CAM_MODEL_QID_QV_TK300()"},
}};

InquiryDecision failure(InquiryOutcome kind)
{
    InquiryDecision d;
    d.outcome = kind;
    d.qid = CAM_QID_NONE;
    d.next = kInquiryModel;
    return d;
}

} // namespace

QByteArray inquiryCommandPath(int n)
{
    if (n == kInquiryModel)
        return QByteArrayLiteral("qv_cam?cmd=QID&res=1");
    if (n >= kInquiryFirstVersion && n <= kInquiryLastVersion)
        return QByteArrayLiteral("qv_ptz?cmd=%23QSV") + QByteArray::number(n - kInquiryFirstVersion)
               + QByteArrayLiteral("&res=1");
    return {};
}

QByteArray inquiryUrlBytes(const QString& address, int n)
{
    return QByteArrayLiteral("http://") + address.toLatin1() + QByteArrayLiteral("/cgi-bin/") + inquiryCommandPath(n);
}

QUrl inquiryUrl(const QString& address, int n)
{
    return QUrl::fromEncoded(inquiryUrlBytes(address, n), QUrl::TolerantMode);
}

namespace {
const char kBoundName[] = "kelvora_inquiry_bound";
}

namespace {

QNetworkReply* bounded(QNetworkReply* reply)
{
    auto* bound = new QTimer(reply);
    bound->setObjectName(QLatin1String(kBoundName));
    bound->setSingleShot(true);
    QObject::connect(bound, &QTimer::timeout, reply, [reply] {
        if (!reply->isFinished() && reply->error() == QNetworkReply::NoError)
            reply->abort();
    });
    bound->start(kInquiryTimeoutMs);
    return reply;
}

} // namespace

QNetworkReply* getInquiry(QNetworkAccessManager* manager, const QByteArray& encodedUrl)
{
    return bounded(manager->get(QNetworkRequest(QUrl::fromEncoded(encodedUrl, QUrl::TolerantMode))));
}

QNetworkReply* sendInquiry(QObject* parent, const QByteArray& encodedUrl, InquiryConnections* connections)
{
    return bounded(new InquiryReply(encodedUrl, parent, connections));
}

void endInquiryBound(QNetworkReply* reply)
{
    if (auto* bound = reply->findChild<QTimer*>(QLatin1String(kBoundName), Qt::FindDirectChildrenOnly))
        bound->stop();
}

QString inquiryAnswerText(const QByteArray& body)
{
    const qsizetype nul = body.indexOf('\0');
    return QString::fromLatin1(nul < 0 ? body : body.left(nul));
}

QString inquiryVersionFromText(const QString& text)
{
    return text.right(10).left(6);
}

const InquiryVersionSlot* inquiryVersionSlot(int n)
{
    if (n < kInquiryFirstVersion || n > kInquiryLastVersion)
        return nullptr;
    return &kVersionSlots[static_cast<size_t>(n - kInquiryFirstVersion)];
}

InquiryDecision judgeInquiryAnswer(int index, int qid, bool failed, const QByteArray& body)
{
    if (failed)
        return failure(InquiryOutcome::NetworkFailed);

    const QString text = inquiryAnswerText(body);

    if (index == kInquiryModel) {
        for (const ModelAnswer& answer : kModelAnswers) {
            if (text == QLatin1String(answer.text)) {
                InquiryDecision d;
                d.outcome = InquiryOutcome::Next;
                d.qid = answer.qid;
                d.tag = QString::fromUtf8(answer.tag);
                d.next = kInquiryFirstVersion;
                return d;
            }
        }
        return failure(InquiryOutcome::AnswerFailed);
    }

    // Covers the finished sequence too: nothing is due, so any answer is unexpected.
    const InquiryVersionSlot* slot = inquiryVersionSlot(index);
    if (!slot || text.left(4) != QLatin1String(slot->prefix))
        return failure(InquiryOutcome::AnswerFailed);

    InquiryDecision d;
    d.outcome = InquiryOutcome::Next;
    d.qid = qid;
    d.tag = QString::fromUtf8(slot->tag);
    d.slot = slot;
    d.version = inquiryVersionFromText(text);
    d.next = index + 1;

    if (index == 5) {
        if (qid == CAM_QID_TK10) {
            d.outcome = InquiryOutcome::End;
        } else if (qid != CAM_QID_TK300) {
            d.resetTk300Labels = true;
            d.next = kInquiryLastVersion;
        }
    } else if (index == kInquiryLastVersion) {
        d.outcome = InquiryOutcome::End;
    }
    if (d.outcome == InquiryOutcome::End)
        d.next = kInquiryEnded;
    return d;
}
