// kelvora-bench-http qnam|socket ADDRESS: the ten GETs of a QV-TK300 inquiry sequence,
// each sent when the previous answer is complete, without the tool's window: through a
// fresh QNetworkAccessManager (what the window uses), or over one keep-alive QTcpSocket
// in the same thread, read by the tool's own answer parser. Shows how much of the
// sequence's time is the HTTP client's. Prints the time from the first request to the
// last answer in microseconds; exits 1 on any failed answer.
#include "update/uploadtransfer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

#include <cstdio>
#include <functional>
#include <iterator>
#include <memory>

namespace {

const char* const kPaths[] = {
    "qv_cam?cmd=QID&res=1",     "qv_ptz?cmd=%23QSV0&res=1", "qv_ptz?cmd=%23QSV1&res=1", "qv_ptz?cmd=%23QSV2&res=1",
    "qv_ptz?cmd=%23QSV3&res=1", "qv_ptz?cmd=%23QSV4&res=1", "qv_ptz?cmd=%23QSV5&res=1", "qv_ptz?cmd=%23QSV6&res=1",
    "qv_ptz?cmd=%23QSV7&res=1", "qv_ptz?cmd=%23QSV8&res=1",
};
constexpr int kCount = int(std::size(kPaths));

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: kelvora-bench-http qnam|socket ADDRESS\n");
        return 2;
    }
    const QByteArray mode = argv[1];
    const QByteArray address = argv[2];
    int done = 0;
    bool failed = false;
    QElapsedTimer clock;
    QTimer::singleShot(10000, &app, [&] {
        failed = true;
        app.quit();
    });

    QNetworkAccessManager manager;
    QTcpSocket socket;
    std::unique_ptr<HttpAnswerParser> answer;
    auto finishOne = [&](bool ok) {
        if (!ok) {
            failed = true;
            app.quit();
            return false;
        }
        if (++done == kCount) {
            app.quit();
            return false;
        }
        return true;
    };

    // Both outlive the event loop that calls them.
    std::function<void()> send;
    const int colon = address.lastIndexOf(':');
    if (mode == "qnam") {
        manager.setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
        send = [&] {
            const QByteArray url = "http://" + address + "/cgi-bin/" + kPaths[done];
            manager.get(QNetworkRequest(QUrl::fromEncoded(url, QUrl::TolerantMode)));
        };
        QObject::connect(&manager, &QNetworkAccessManager::finished, &app, [&](QNetworkReply* reply) {
            const bool ok = reply->error() == QNetworkReply::NoError && !reply->readAll().isEmpty();
            reply->deleteLater();
            if (finishOne(ok))
                send();
        });
        clock.start();
        send();
    } else if (mode == "socket" && colon > 0) {
        send = [&] {
            answer = std::make_unique<HttpAnswerParser>();
            socket.write("GET /cgi-bin/" + QByteArray(kPaths[done]) + " HTTP/1.1\r\nHost: " + address
                         + "\r\nConnection: keep-alive\r\n\r\n");
        };
        QObject::connect(&socket, &QTcpSocket::connected, &app, [&] { send(); });
        QObject::connect(&socket, &QTcpSocket::readyRead, &app, [&] {
            const HttpAnswerParser::State state = answer->feed(socket.readAll());
            if (state == HttpAnswerParser::Incomplete)
                return;
            if (finishOne(state == HttpAnswerParser::Complete && answer->status() == 200 && !answer->body().isEmpty()))
                send();
        });
        QObject::connect(&socket, &QTcpSocket::errorOccurred, &app, [&] { finishOne(false); });
        clock.start();
        socket.connectToHost(QString::fromLatin1(address.left(colon)), quint16(address.mid(colon + 1).toUInt()));
    } else {
        return 2;
    }
    app.exec();
    if (failed || done != kCount)
        return 1;
    std::printf("span_us=%lld\n", static_cast<long long>(clock.nsecsElapsed() / 1000));
    return 0;
}
