// The upload's own HTTP exchange: reading the camera's answer, and the reply when a scripted camera
// on loopback answers early or badly. A dropped connection is one of app/tests/tst_faults.cpp's ends.
#include "update/uploadtransfer.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

struct Answer { QByteArray bytes; bool thenClosed; int state, status; QByteArray body; };
// The camera's answer, sent once this many body bytes have come in; the reply's error and content.
struct Exchange { QByteArray answer; int answerAfter, error; QByteArray content; };
Q_DECLARE_METATYPE(Answer)
Q_DECLARE_METATYPE(Exchange)

class TestUploadTransfer : public QObject
{
    Q_OBJECT

private slots:
    void answer_data()
    {
        QTest::addColumn<Answer>("a");
        const int done = HttpAnswerParser::Complete, bad = HttpAnswerParser::Invalid,
                  open = HttpAnswerParser::Incomplete;
        const auto row = [](const char* name, const QByteArray& bytes, bool closed, int state, int status,
                            const QByteArray& body) { QTest::newRow(name) << Answer{bytes, closed, state, status, body}; };
        const QByteArray chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
        row("length", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhelloEXTRA", false, done, 200, "hello");
        row("length, cut short", "HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\nhello", true, bad, 200, "hello");
        row("until close", "HTTP/1.0 200 OK\r\n\r\nCurrently resetting", true, done, 200, "Currently resetting");
        row("until close, still open", "HTTP/1.0 200 OK\r\n\r\nabc", false, open, 200, "abc");
        row("chunked, sizes in hex", chunked + "4;x=y\r\ncgi-\r\n11\r\nbin/qv_update?x=1\r\n0\r\nTrailer: 1\r\n\r\n", false,
            done, 200, "cgi-bin/qv_update?x=1");
        row("last coding decides", "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n", false,
            done, 200, "abc");
        row("chunk without line end", chunked + "4\r\ncgi-X\r\n", false, bad, 200, "cgi-");
        row("interim answer skipped",
            "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 401 Unauthorized\r\nContent-Length: 2\r\n\r\nno", false, done, 401,
            "no");
        row("no reason phrase", "HTTP/1.1 200\r\nContent-Length: 2\r\n\r\nok", false, done, 200, "ok");
        row("bare line feeds", "HTTP/1.1 500 Oops\nContent-Length: 1\n\nx", false, done, 500, "x");
        row("not http", "OID:QV-TK10\r\n\r\n", false, bad, 0, "");
        row("two lengths", "HTTP/1.1 200 OK\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\nab", false, bad, 200, "");
        row("endless head", "HTTP/1.1 200 OK\r\nX: " + QByteArray(70000, 'a'), false, bad, 0, "");
    }

    // Whole and piece by piece alike, as the fuzz replay of fuzz/fuzz_httpanswer.cpp checks.
    void answer()
    {
        QFETCH(Answer, a);
        HttpAnswerParser parser;
        parser.feed(a.bytes);
        if (a.thenClosed)
            parser.closed();
        QCOMPARE(int(parser.state()), a.state);
        QCOMPARE(parser.status(), a.status);
        QCOMPARE(parser.body(), a.body);
    }

    void exchange_data()
    {
        QTest::addColumn<Exchange>("x");
        QTest::newRow("refused before the body") << Exchange{"HTTP/1.1 401 Unauthorized\r\nContent-Length: 6\r\n\r\ndenied", 0,
                                                             QNetworkReply::AuthenticationRequiredError, "denied"};
        // A refusal whose page names the marker must still count as failed.
        QTest::newRow("400 with the marker") << Exchange{"HTTP/1.1 400 Bad Request\r\nContent-Length: 14\r\n\r\n/cgi-bin/verup", 0,
                                                         QNetworkReply::UnknownContentError, "/cgi-bin/verup"};
        QTest::newRow("garbage answer") << Exchange{"Currently resetting\r\n\r\n", 3000000, QNetworkReply::ProtocolFailure, {}};
        // An acceptance that comes before the camera has the whole file does not stand for it.
        QTest::newRow("marker before the body") << Exchange{"HTTP/1.1 200 OK\r\nContent-Length: 7\r\n\r\ncgi-bin", 0,
                                                            QNetworkReply::ProtocolFailure, "cgi-bin"};
    }

    void exchange()
    {
        QFETCH(Exchange, x);
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        int connections = 0;
        QByteArray received;
        connect(&server, &QTcpServer::newConnection, this, [&] {
            QTcpSocket* s = server.nextPendingConnection();
            ++connections;
            connect(s, &QTcpSocket::readyRead, s, [&, s] {
                received += s->readAll();
                const qsizetype headEnd = received.indexOf("\r\n\r\n");
                if (headEnd < 0 || received.size() - headEnd - 4 < x.answerAfter || s->property("answered").toBool())
                    return;
                s->setProperty("answered", true);
                s->write(x.answer);
            });
        });

        // More than the connection's buffers hold, so an early answer finds the body still going out.
        const QByteArray body(16000000, 'f');
        const QByteArray url = "http://127.0.0.1:" + QByteArray::number(server.serverPort()) + "/cgi-bin/qv_update";
        UploadReply reply(url, {{"Content-Length", QByteArray::number(body.size())}, {"Cookie", "Session=0"}},
                          {body.left(10), body.mid(10)});
        QSignalSpy finished(&reply, &QNetworkReply::finished);
        QVERIFY(finished.wait(5000));
        QCOMPARE(finished.size(), 1);
        QCOMPARE(int(reply.error()), x.error);
        QCOMPARE(reply.readAll(), x.content);
        // Nothing is ever sent twice, and the head is exactly the one given.
        QCOMPARE(connections, 1);
        QVERIFY(received.startsWith("POST /cgi-bin/qv_update HTTP/1.1\r\nHost: 127.0.0.1:"
                                    + QByteArray::number(server.serverPort())
                                    + "\r\nContent-Length: 16000000\r\nCookie: Session=0\r\n"
                                      "Connection: close\r\nUser-Agent: Mozilla/5.0\r\n\r\nfff"));
    }

    // The system may refuse a connection inside the call that asks for it (no route to the
    // camera any more): the reply must still finish where its owner can see it. The broadcast
    // address is refused that way without anything being sent.
    void connectionRefusedAtOnce()
    {
        UploadReply reply("http://255.255.255.255/cgi-bin/qv_update", {}, {QByteArray("x")});
        QSignalSpy finished(&reply, &QNetworkReply::finished);
        QVERIFY(finished.wait(2000));
        QVERIFY(reply.error() != QNetworkReply::NoError);
    }
};

QTEST_GUILESS_MAIN(TestUploadTransfer)
#include "tst_uploadtransfer.moc"
