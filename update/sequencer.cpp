#include "update/sequencer.h"

#include "camera/caminfo.h"
#include "update/uploadrequest.h"

#include <cmath>

const char* uploadAcceptMarker(int model)
{
    if (isTkd7Family(model))
        return "Currently resetting";
    if (isValidModelId(model))
        return "cgi-bin";
    return nullptr;
}

UploadVerdict judgeUploadReply(int model, bool failed, const QByteArray& body)
{
    if (failed)
        return UploadVerdict::Failed;
    const char* marker = uploadAcceptMarker(model);
    return marker && body.contains(marker) ? UploadVerdict::Accepted : UploadVerdict::Refused;
}

bool decidedByVersionCheck(int model, const QString& extension)
{
    return isTkd7Family(model) && extension == QLatin1String("img");
}

ReinquiryVerdict judgeReinquiryReply(int model, const QString& extension, bool failed, const QByteArray& body)
{
    if (failed)
        return ReinquiryVerdict::NoAnswer;
    if (inquiryText(body).startsWith(QLatin1String("QID:")))
        return ReinquiryVerdict::NotBack;
    if (decidedByVersionCheck(model, extension))
        return ReinquiryVerdict::LeftToCheck;
    return ReinquiryVerdict::Back;
}

QString inquiryText(const QByteArray& body)
{
    const qsizetype nul = body.indexOf('\0');
    return QString::fromLatin1(nul < 0 ? body : body.left(nul));
}

QString answerVersion(const QString& text)
{
    return text.right(10).left(6);
}

bool networkVersionMatches(bool failed, const QByteArray& body, const QString& expected)
{
    if (failed)
        return false;
    const QString text = inquiryText(body);
    return text.left(4) == QLatin1String("qSV3") && answerVersion(text) == expected;
}

ResetWaitTick advanceResetWait(double* progress, double interval)
{
    *progress += interval;
    // Bounded before the conversion: an endless wait must not overflow the percent.
    const double whole = std::trunc(std::fmin(std::fmax(*progress, -1.0), 1.0e6));
    const int percent = int(whole);
    return {percent, percent >= 100};
}

QByteArray modelReinquiryUrl(const QString& address)
{
    return "http://" + toWireLatin1(address) + "/cgi-bin/qv_cam?cmd=QID&res=1";
}

QByteArray networkVersionUrl(const QString& address)
{
    return "http://" + toWireLatin1(address) + "/cgi-bin/qv_ptz?cmd=%23QSV3&res=1";
}

const std::vector<RunEndStep>& runEndSteps(RunEnd end)
{
    using S = RunEndStep;
    // Every end aborts what is still out before its message: once the operator reads how
    // the run ended, the camera receives nothing more of it.
    static const std::vector<S> notStarted{
        {S::Log, "■DEBUG■DIAPRO_StartVerUpNG"}, {S::Message, "Start Err"}, {S::Reset, nullptr}};
    static const std::vector<S> uploadFailed{{S::Log, "■DEBUG■VerUp Start NG2"}, {S::Abort, nullptr},
                                             {S::Message, "VerUp Err"}, {S::Reset, nullptr},
                                             {S::StopTimer2, nullptr}, {S::Close, nullptr}};
    static const std::vector<S> uploadRefused{{S::Log, "■DEBUG■VerUp Start NG"}, {S::Abort, nullptr},
                                              {S::Message, "VerUp Err"}, {S::Reset, nullptr},
                                              {S::StopTimer2, nullptr}, {S::Close, nullptr}};
    static const std::vector<S> fileUnreadable{{S::Abort, nullptr}, {S::Message, "UpdateNG"}, {S::LogDetail, nullptr},
                                               {S::Reset, nullptr}, {S::Close, nullptr}};
    static const std::vector<S> noUploadReply{{S::StopTimer1, nullptr}, {S::Log, "■DEBUG■Timeout1 NG"},
                                              {S::Abort, nullptr},      {S::Message, "UpdateNG"},
                                              {S::Log, "UpdateNG4"},    {S::Reset, nullptr},
                                              {S::Close, nullptr}};
    static const std::vector<S> cameraNotBack{{S::StopTimer2, nullptr}, {S::Log, "■DEBUG■Timeout2 NG"},
                                              {S::Abort, nullptr},      {S::Message, "UpdateNG"},
                                              {S::Reset, nullptr},      {S::Close, nullptr}};
    // The ends below hide the dialog before their message.
    static const std::vector<S> versionCheckFailed{
        {S::Log, "■DEBUG■DIAPRO_CAM_finished NG"}, {S::Log, "TimerStop"}, {S::StopTimer2, nullptr},
        {S::Abort, nullptr}, {S::Close, nullptr}, {S::Message, "Update Err"}, {S::Reset, nullptr}};
    static const std::vector<S> completed{{S::Log, "TimerStop"}, {S::StopTimer2, nullptr}, {S::Abort, nullptr},
                                          {S::Close, nullptr}, {S::Message, "Process has been completed successfully."},
                                          {S::Reset, nullptr}};
    static const std::vector<S> stopped{
        {S::StopTimer1, nullptr}, {S::StopTimer2, nullptr}, {S::Log, "■DEBUG■VerUp Stopped"}, {S::Abort, nullptr},
        {S::Close, nullptr}, {S::Message, "Update stopped: the camera may still be writing the firmware."},
        {S::Reset, nullptr}};
    static const std::vector<S> stoppedSending{
        {S::StopTimer1, nullptr}, {S::StopTimer2, nullptr}, {S::Log, "■DEBUG■VerUp Stopped"}, {S::Abort, nullptr},
        {S::Close, nullptr}, {S::Message, "Update stopped: the remaining files were not sent."}, {S::Reset, nullptr}};
    switch (end) {
    case RunEnd::NotStarted: return notStarted;
    case RunEnd::UploadFailed: return uploadFailed;
    case RunEnd::UploadRefused:
    case RunEnd::NoUploadForm: return uploadRefused;
    case RunEnd::FileUnreadable: return fileUnreadable;
    case RunEnd::NoUploadReply: return noUploadReply;
    case RunEnd::CameraNotBack: return cameraNotBack;
    case RunEnd::VersionCheckFailed: return versionCheckFailed;
    case RunEnd::Stopped: return stopped;
    case RunEnd::StoppedSending: return stoppedSending;
    case RunEnd::Completed: break;
    }
    return completed;
}

const char* runEndMessage(RunEnd end)
{
    for (const RunEndStep& step : runEndSteps(end))
        if (step.kind == RunEndStep::Message)
            return step.text;
    return nullptr;
}
