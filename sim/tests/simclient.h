#ifndef KELVORA_SIM_TESTS_SIMCLIENT_H
#define KELVORA_SIM_TESTS_SIMCLIENT_H

// Test-side HTTP helpers: blocking requests with a bounded wait, and upload bodies and
// headers laid out byte for byte the way the tool sends them.

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>

#include <memory>

using RawHeaders = QList<QPair<QByteArray, QByteArray>>;

struct HttpResult {
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    int status = 0;
    QByteArray body;
};

// A null header value leaves the header out.
inline HttpResult httpRequest(QNetworkAccessManager& nam, const QByteArray& url, const QByteArray* postBody = nullptr,
                              const RawHeaders& headers = {})
{
    QNetworkRequest request(QUrl::fromEncoded(url, QUrl::TolerantMode));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    for (const auto& h : headers)
        request.setRawHeader(h.first, h.second);
    std::unique_ptr<QNetworkReply> reply(postBody ? nam.post(request, *postBody) : nam.get(request));
    QEventLoop loop;
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(3000, &loop, &QEventLoop::quit);
    if (!reply->isFinished())
        loop.exec();
    if (!reply->isFinished()) {
        reply->abort();
        return {QNetworkReply::TimeoutError, 0, {}};
    }
    return {reply->error(), reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->readAll()};
}

enum class ToolForm { Net, Cam, Tk15Tk20 };

inline QByteArray toolBoundary(ToolForm form)
{
    return form == ToolForm::Net ? "---------------------------7dd1a5610050e"
        : form == ToolForm::Cam  ? "---------------------------7dd2cec10050e"
                                 : "---------------------------7dd1961a2805aa";
}

// fileName is the tool's local path with backslashes.
inline QByteArray toolBody(ToolForm form, const QByteArray& fileName, const QByteArray& file,
                           const QByteArray& typeCode = "1")
{
    const QByteArray b = "--" + toolBoundary(form) + "\r\nContent-Disposition: form-data; name=\"";
    const QByteArray end = "--" + toolBoundary(form) + "--\r\n";
    const QByteArray octet = "\r\nContent-Type: application/octet-stream\r\n\r\n";
    const QByteArray named = "\"; filename=\"" + fileName + '"' + octet + file + "\r\n";
    if (form == ToolForm::Net)
        return b + "file_camera\"; filename=\"\" " + octet + "\r\n" + b + "chk_file\"\r\n\r\n1\r\n" + b + "file_soft"
            + named + b + "initial\"\r\n\r\n1\r\n" + end;
    if (form == ToolForm::Cam)
        return b + "chk_file\"\r\n\r\n0\r\n" + b + "file_camera" + named + b + "file_soft\"; filename= " + octet
            + "\r\n" + end + "Content-Disposition: form-data; name=\"form-data\"; filename=\"initial\"\r\n\r\n1\r\n"
            + end;
    return b + "fw_path" + named + b + "fw_type\"\r\n\r\n" + typeCode + "\r\n" + end;
}

inline RawHeaders toolHeaders(ToolForm form, qsizetype bodySize, const QByteArray& authorization, const QByteArray& host)
{
    return {{"Accept-Encoding", "gzip, deflate"}, {"Content-Type", "multipart/form-data; boundary=" + toolBoundary(form)},
            {"Content-Length", QByteArray::number(bodySize)}, {"Authorization", authorization},
            {"Referer", "http://" + host + "/cgi-bin/verup"}, {"Accept-Language", "ja"},
            {"Accept", "image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, application/x-shockwave-flash, "
                       "application/vnd.ms-excel, application/vnd.ms-powerpoint, application/msword, "
                       "application/xaml+xml, application/x-ms-xbap, application/x-ms-application, */*"},
            {"Cache-Control", "no-cache"}, {"Cookie", "Session=0"}};
}

// Posts a firmware file the way the tool would for this model.
inline HttpResult postFirmware(QNetworkAccessManager& nam, int port, int modelId, const QByteArray& fileName,
                               const QByteArray& file, const QByteArray& authorization)
{
    const bool old = modelId >= 1 && modelId <= 3;
    const ToolForm form = !old ? ToolForm::Tk15Tk20 : fileName.endsWith("img") ? ToolForm::Net : ToolForm::Cam;
    const QByteArray host = "127.0.0.1:" + QByteArray::number(port);
    const QByteArray body = toolBody(form, "C:\\fw\\\\" + fileName, file);
    return httpRequest(nam, "http://" + host + (old ? "/cgi-bin/upload" : "/cgi-bin/qv_update"), &body,
                       toolHeaders(form, body.size(), authorization, host));
}

#endif
