#ifndef KELVORA_CAMERA_CAMERAINQUIRY_H
#define KELVORA_CAMERA_CAMERAINQUIRY_H

// Asks a camera for its model and the versions of its components: the model inquiry, then
// the version inquiries its model answer calls for, one after the other, each sent when
// the answer before it has been judged (camera/inquiry.h judges; this object carries the
// sequence out). Widget-free: the window and the fleet both run their inquiries on it.
//
// The window keeps its own hold on the sequence (Connect sends whatever inquiry is due,
// a failure clears the whole window), so the points where a front end acts are virtual:
// clearAfterFailure, sendNext, sequenceComplete and answerRefused. Left as they are, the
// object runs a whole sequence by itself from start() and says done() at its end.

#include "camera/caminfo.h"
#include "camera/inquiry.h"
#include "common/debuglog.h"

#include <QList>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>

class InquiryConnections;
class QNetworkAccessManager;

class CameraInquiry : public QObject
{
    Q_OBJECT

public:
    enum class Failure {
        None,     // no failure (yet)
        Network,  // transport or HTTP error, or no answer in time
        Answer,   // an answer that is not the one due
    };

    // With a manager of the caller's, the caller hands each finished reply to handleReply();
    // without one, the inquiry has its own and does so itself.
    explicit CameraInquiry(QObject* parent = nullptr, QNetworkAccessManager* manager = nullptr);
    ~CameraInquiry() override;

    // Sends each inquiry in this thread (sendInquiry), on the connection the camera answered
    // the last one on where it is still open, instead of through a network manager, and
    // takes each reply as it finishes: a manager runs a thread of its own, so a thousand
    // inquiries cannot each have one. Before the first start.
    void useOwnConnections();

    // The records the sequence works on: the number due next, the model answer and the
    // camera record. Its own unless bound to others (the window's process-wide ones).
    void bindRecords(int* index, int* qid, cam_info* camera);
    void setLog(const kelvora::DebugLog& log) { m_log = log; }
    const kelvora::DebugLog& log() const { return m_log; }

    int index() const { return *m_index; }
    int qid() const { return *m_qid; }
    const cam_info& camera() const { return *m_camera; }
    Failure failure() const { return m_failure; }
    // Why the camera could not be taken: "connection refused", "no answer", "not a camera
    // of this family", "unknown model", ...; empty when it was identified.
    QString failureText() const;
    bool identified() const { return m_ended && m_failure == Failure::None && isValidModelId(m_camera->ModelID); }

    // A whole sequence from the model inquiry on; done() once it has ended.
    void start(const QString& address);
    // Sends inquiry n (kInquiryModel .. kInquiryLastVersion; any other number asks for the
    // bare "/cgi-bin/") to `address`, as typed. Any number of inquiries may be out: each
    // answer is judged against the number due when it arrives.
    void send(const QString& address, int n);
    // Judges one finished inquiry and acts on it; releases the reply.
    void handleReply(QNetworkReply* reply);
    // Decides the model from the record, writes it into the record and returns it.
    int identify();
    // Lets go of every inquiry still out, without judging it.
    void abort();

signals:
    // A version was stored in the record (the window shows it in the slot's label).
    void versionStored(const InquiryVersionSlot* slot, const QString& version);
    // A TK20 family camera skips the three TK300 components.
    void tk300Skipped();
    // The sequence has ended, identified or failed.
    void done();

protected:
    // After a failure: nothing is due, no model, an empty record.
    virtual void clearAfterFailure();
    // The answer has been taken and inquiry n is due.
    virtual void sendNext(int n);
    // The last answer has been taken: identify the model.
    virtual void sequenceComplete();
    // An answer that is not the one due (after the clearing and its log line).
    virtual void answerRefused() {}

private:
    QNetworkAccessManager* m_manager = nullptr;
    bool m_ownManager = false;
    bool m_routeReplies = false;  // own connections: each reply's finished() brings it here
    InquiryConnections* m_connections = nullptr;
    kelvora::DebugLog m_log;
    int m_ownIndex = kInquiryModel;
    int m_ownQid = CAM_QID_NONE;
    cam_info m_ownCamera;
    int* m_index = &m_ownIndex;
    int* m_qid = &m_ownQid;
    cam_info* m_camera = &m_ownCamera;
    QString m_address;
    Failure m_failure = Failure::None;
    QNetworkReply::NetworkError m_networkError = QNetworkReply::NoError;
    int m_httpStatus = 0;
    bool m_ended = false;
    QList<QPointer<QNetworkReply>> m_out;
};

#endif
