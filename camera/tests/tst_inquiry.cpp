#include "camera/inquiry.h"

#include <QtTest>

class TestInquiry : public QObject
{
    Q_OBJECT

private slots:
    void url_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("number");
        QTest::addColumn<QByteArray>("wire");

        // Text only: none of these addresses is ever contacted.
        QTest::newRow("model") << "192.168.0.10" << 0 << QByteArray("http://192.168.0.10/cgi-bin/qv_cam?cmd=QID&res=1");
        QTest::newRow("QSV0") << "192.168.0.10" << 1 << QByteArray("http://192.168.0.10/cgi-bin/qv_ptz?cmd=%23QSV0&res=1");
        QTest::newRow("QSV8, port") << "192.168.0.10:8080" << 9
                                    << QByteArray("http://192.168.0.10:8080/cgi-bin/qv_ptz?cmd=%23QSV8&res=1");
        QTest::newRow("host name") << "cam-07.example.net" << 4
                                   << QByteArray("http://cam-07.example.net/cgi-bin/qv_ptz?cmd=%23QSV3&res=1");
        QTest::newRow("ended") << "192.168.0.10" << 11 << QByteArray("http://192.168.0.10/cgi-bin/");
        QTest::newRow("10") << "192.168.0.10" << 10 << QByteArray("http://192.168.0.10/cgi-bin/");
        QTest::newRow("negative") << "192.168.0.10" << -1 << QByteArray("http://192.168.0.10/cgi-bin/");
        QTest::newRow("not trimmed") << " 192.168.0.10 " << 0 << QByteArray("http:// 192.168.0.10 /cgi-bin/qv_cam?cmd=QID&res=1");
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

    void judge_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("qid");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("qidAfter");
        QTest::addColumn<QString>("version");
        QTest::addColumn<int>("next");

        // Answers the simulated camera never gives; whole sequences run in the window tests.
        QTest::newRow("model text ends at NUL") << 0 << 0 << QByteArray("OID:QV-TK300\0junk", 17) << true << 3 << "" << 1;
        QTest::newRow("longer model name") << 0 << 0 << QByteArray("OID:QV-TK200") << false << 0 << "" << 0;
        QTest::newRow("TK300 cut short") << 0 << 0 << QByteArray("OID:QV-TK30") << false << 0 << "" << 0;
        QTest::newRow("lower case") << 0 << 0 << QByteArray("oid:qv-tk10") << false << 0 << "" << 0;
        QTest::newRow("leading blank") << 0 << 0 << QByteArray(" OID:QV-TK20") << false << 0 << "" << 0;
        QTest::newRow("filler, trailing CR LF") << 4 << 2 << QByteArray("qSV3 ## V02.11\r\n\r\n") << true << 2 << "V02.11" << 5;
        QTest::newRow("version ends at NUL") << 4 << 2 << QByteArray("qSV3V02.11abcd\0V09.99wxyz", 25) << true << 2 << "V02.11" << 5;
        QTest::newRow("latin-1 bytes") << 2 << 1 << QByteArray("qSV1\xe9V01.20\xff\xfe\x80\x01") << true << 1 << "V01.20" << 3;
        QTest::newRow("exactly ten") << 4 << 2 << QByteArray("qSV3V02.11") << true << 2 << "qSV3V0" << 5;
        QTest::newRow("prefix only") << 4 << 2 << QByteArray("qSV3") << true << 2 << "qSV3" << 5;
        QTest::newRow("QSV4, no model answer") << 5 << 0 << QByteArray("qSV4V01.54abcd") << true << 0 << "V01.54" << 9;
        QTest::newRow("upper-case Q") << 4 << 2 << QByteArray("QSV3V02.11abcd") << false << 0 << "" << 0;
        QTest::newRow("prefix cut short") << 4 << 2 << QByteArray("qSV") << false << 0 << "" << 0;
        QTest::newRow("prefix after NUL") << 2 << 2 << QByteArray("\0qSV1V03.10abcd", 15) << false << 0 << "" << 0;
        QTest::newRow("nothing due after end") << 11 << 2 << QByteArray("qSV8V01.98abcd") << false << 0 << "" << 0;
        QTest::newRow("number 10") << 10 << 2 << QByteArray("qSV9V01.98abcd") << false << 0 << "" << 0;
    }

    void judge()
    {
        QFETCH(int, index);
        QFETCH(int, qid);
        QFETCH(QByteArray, body);
        QFETCH(bool, ok);
        QFETCH(int, qidAfter);
        QFETCH(QString, version);
        QFETCH(int, next);

        const InquiryDecision d = judgeInquiryAnswer(index, qid, false, body);
        QCOMPARE(d.outcome, ok ? InquiryOutcome::Next : InquiryOutcome::AnswerFailed);
        QCOMPARE(d.qid, qidAfter);
        QCOMPARE(d.version, version);
        QCOMPARE(d.next, next);
        QCOMPARE(judgeInquiryAnswer(index, qid, true, body).outcome, InquiryOutcome::NetworkFailed);
    }
};

QTEST_APPLESS_MAIN(TestInquiry)
#include "tst_inquiry.moc"
