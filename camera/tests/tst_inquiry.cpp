#include "camera/inquiry.h"
#include "camera/inquiryreply.h"

#include <QNetworkReply>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

// An answer to the inquiry at index (with the model answer so far) and what is made of it.
struct Answer { int index, qid; QByteArray body; bool ok; int qidAfter; QString version; int next; };
Q_DECLARE_METATYPE(Answer)

// What a scripted camera does with each request, in the order they come over all its
// connections (beyond the script: closes); inquiries sent one after another on shared
// connections, the last one's error, and the connections and requests the camera saw.
enum class Does { Answers, Closes, ClosesAtOnce };
struct Retry { QList<Does> script; int inquiries, error, connections, requests; };
Q_DECLARE_METATYPE(Retry)

class TestInquiry : public QObject
{
    Q_OBJECT

private slots:
    void url_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("number");
        QTest::addColumn<QByteArray>("wire");
        // Text only: none of these addresses is ever contacted. The simulated camera sees the
        // usual targets in app/tests/tst_connect.cpp.
        QTest::newRow("QSV8, host name, port") << "cam-07.example.net:8080" << 9
                                               << QByteArray("http://cam-07.example.net:8080/cgi-bin/qv_ptz?cmd=%23QSV8&res=1");
        QTest::newRow("10") << "192.0.2.10" << 10 << QByteArray("http://192.0.2.10/cgi-bin/");
        QTest::newRow("negative") << "192.0.2.10" << -1 << QByteArray("http://192.0.2.10/cgi-bin/");
        QTest::newRow("not trimmed") << " 192.0.2.10 " << 0 << QByteArray("http:// 192.0.2.10 /cgi-bin/qv_cam?cmd=QID&res=1");
    }

    void url()
    {
        QFETCH(QString, address);
        QFETCH(int, number);
        QFETCH(QByteArray, wire);
        QCOMPARE(inquiryUrlBytes(address, number), wire);
        const QUrl url = inquiryUrl(address, number);
        // What the client puts on the wire: "%23" neither decoded nor encoded again.
        if (url.isValid())
            QCOMPARE(url.toEncoded(), wire);
        QCOMPARE(url.isValid(), !address.startsWith(QLatin1Char(' ')));
    }

    // Answers the simulated camera never gives; whole sequences run in the window tests.
    void judge_data()
    {
        QTest::addColumn<Answer>("a");
        QTest::newRow("model text ends at NUL") << Answer{0, 0, QByteArray("OID:QV-TK300\0junk", 17), true, 3, "", 1};
        QTest::newRow("longer model name") << Answer{0, 0, "OID:QV-TK200", false, 0, "", 0};
        QTest::newRow("TK300 cut short") << Answer{0, 0, "OID:QV-TK30", false, 0, "", 0};
        QTest::newRow("lower case") << Answer{0, 0, "oid:qv-tk10", false, 0, "", 0};
        QTest::newRow("leading blank") << Answer{0, 0, " OID:QV-TK20", false, 0, "", 0};
        QTest::newRow("filler, trailing CR LF") << Answer{4, 2, "qSV3 ## V02.11\r\n\r\n", true, 2, "V02.11", 5};
        QTest::newRow("version ends at NUL") << Answer{4, 2, QByteArray("qSV3V02.11abcd\0V09.99wxyz", 25), true, 2, "V02.11", 5};
        QTest::newRow("latin-1 bytes") << Answer{2, 1, "qSV1\xe9V01.20\xff\xfe\x80\x01", true, 1, "V01.20", 3};
        QTest::newRow("exactly ten") << Answer{4, 2, "qSV3V02.11", true, 2, "qSV3V0", 5};
        QTest::newRow("prefix only") << Answer{4, 2, "qSV3", true, 2, "qSV3", 5};
        QTest::newRow("QSV4, no model answer") << Answer{5, 0, "qSV4V01.54abcd", true, 0, "V01.54", 9};
        QTest::newRow("upper-case Q") << Answer{4, 2, "QSV3V02.11abcd", false, 0, "", 0};
        QTest::newRow("prefix cut short") << Answer{4, 2, "qSV", false, 0, "", 0};
        QTest::newRow("prefix after NUL") << Answer{2, 2, QByteArray("\0qSV1V03.10abcd", 15), false, 0, "", 0};
        QTest::newRow("nothing due after end") << Answer{11, 2, "qSV8V01.98abcd", false, 0, "", 0};
        QTest::newRow("number 10") << Answer{10, 2, "qSV9V01.98abcd", false, 0, "", 0};
    }

    void judge()
    {
        QFETCH(Answer, a);
        const InquiryDecision d = judgeInquiryAnswer(a.index, a.qid, false, a.body);
        QCOMPARE(d.outcome, a.ok ? InquiryOutcome::Next : InquiryOutcome::AnswerFailed);
        QCOMPARE(d.qid, a.qidAfter);
        QCOMPARE(d.version, a.version);
        QCOMPARE(d.next, a.next);
    }

    // A camera may close a connection it kept open just as the next inquiry goes out on it:
    // that inquiry goes again, once, on a new connection. A new connection closed without an
    // answer is the camera's answer: the inquiry fails at once, long before its bound.
    void retry_data()
    {
        QTest::addColumn<Retry>("r");
        const int ok = QNetworkReply::NoError, closed = QNetworkReply::RemoteHostClosedError;
        using D = Does;
        QTest::newRow("new connection closed unanswered") << Retry{{D::Closes}, 1, closed, 1, 1};
        QTest::newRow("new connection closed before the request") << Retry{{D::ClosesAtOnce}, 1, closed, 1, 0};
        QTest::newRow("kept connection answers again") << Retry{{D::Answers, D::Answers}, 2, ok, 1, 2};
        QTest::newRow("kept connection closed, the new one answers") << Retry{{D::Answers, D::Closes, D::Answers}, 2, ok, 2, 3};
        QTest::newRow("kept connection closed, the new one too") << Retry{{D::Answers, D::Closes, D::Closes}, 2, closed, 2, 3};
        QTest::newRow("kept connection closed, the new one before the request")
            << Retry{{D::Answers, D::Closes, D::ClosesAtOnce}, 2, closed, 2, 2};
    }

    void retry()
    {
        QFETCH(Retry, r);
        int connections = 0, requests = 0;
        qsizetype step = 0;
        const auto next = [&] { return step < r.script.size() ? r.script.at(step++) : Does::Closes; };
        QTcpServer camera;
        QVERIFY(camera.listen(QHostAddress::LocalHost));
        connect(&camera, &QTcpServer::newConnection, this, [&] {
            while (QTcpSocket* s = camera.nextPendingConnection()) {
                ++connections;
                connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
                if (step < r.script.size() && r.script.at(step) == Does::ClosesAtOnce) {
                    ++step;
                    s->close();
                    continue;
                }
                connect(s, &QTcpSocket::readyRead, s, [&, s] {
                    QByteArray in = s->property("in").toByteArray() + s->readAll();
                    for (qsizetype end; (end = in.indexOf("\r\n\r\n")) >= 0;) {
                        in.remove(0, end + 4);
                        ++requests;
                        if (next() == Does::Answers) {
                            s->write("HTTP/1.1 200 OK\r\nContent-Length: 12\r\n\r\nOID:QV-TK300");
                        } else {
                            s->close();
                            return;
                        }
                    }
                    s->setProperty("in", in);
                });
            }
        });

        const QByteArray url = inquiryUrlBytes(QStringLiteral("127.0.0.1:%1").arg(camera.serverPort()), kInquiryModel);
        InquiryConnections kept;
        QObject owner;
        for (int i = 1; i <= r.inquiries; ++i) {
            QNetworkReply* reply = sendInquiry(&owner, url, &kept);
            QSignalSpy finished(reply, &QNetworkReply::finished);
            // Well inside the inquiry's own bound: retrying until the bound must not pass.
            QVERIFY(finished.wait(kInquiryTimeoutMs / 2));
            endInquiryBound(reply);
            QCOMPARE(int(reply->error()), i < r.inquiries ? int(QNetworkReply::NoError) : r.error);
            if (reply->error() == QNetworkReply::NoError)
                QCOMPARE(reply->readAll(), QByteArray("OID:QV-TK300"));
            delete reply;
        }
        QCOMPARE(connections, r.connections);
        QCOMPARE(requests, r.requests);
    }
};

QTEST_GUILESS_MAIN(TestInquiry)
#include "tst_inquiry.moc"
