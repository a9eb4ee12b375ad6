#include "camera/inquiry.h"

#include <QtTest>

Q_DECLARE_METATYPE(InquiryOutcome)

namespace {

// Distinct per component so a version stored in the wrong field shows.
const char* const kVersions[9] = {"V01.10", "V02.21", "V01.32", "V03.43", "V01.54",
                                  "V01.65", "V01.76", "V01.87", "V01.98"};

QByteArray versionAnswer(int qsv)
{
    return "qSV" + QByteArray::number(qsv) + "xx" + kVersions[qsv] + "\r\n\r\n";
}

} // namespace

class TestInquiry : public QObject
{
    Q_OBJECT

private slots:
    void url_data();
    void url();
    void answerText_data();
    void answerText();
    void judge_data();
    void judge();
    void sequence_data();
    void sequence();
};

void TestInquiry::url_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("number");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::addColumn<QByteArray>("query");

    // Text only: none of these is ever sent.
    const QString ip = QStringLiteral("192.168.0.10");
    QTest::newRow("model") << ip << 0 << QByteArray("http://192.168.0.10/cgi-bin/qv_cam?cmd=QID&res=1") << ip << -1
                           << QByteArray("cmd=QID&res=1");
    QTest::newRow("QSV0") << ip << 1 << QByteArray("http://192.168.0.10/cgi-bin/qv_ptz?cmd=%23QSV0&res=1") << ip
                          << -1 << QByteArray("cmd=%23QSV0&res=1");
    QTest::newRow("QSV3") << ip << 4 << QByteArray("http://192.168.0.10/cgi-bin/qv_ptz?cmd=%23QSV3&res=1") << ip
                          << -1 << QByteArray("cmd=%23QSV3&res=1");
    QTest::newRow("QSV8") << ip << 9 << QByteArray("http://192.168.0.10/cgi-bin/qv_ptz?cmd=%23QSV8&res=1") << ip
                          << -1 << QByteArray("cmd=%23QSV8&res=1");
    QTest::newRow("ended: bare cgi-bin") << ip << 11 << QByteArray("http://192.168.0.10/cgi-bin/") << ip << -1
                                         << QByteArray();
    QTest::newRow("10: bare cgi-bin") << ip << 10 << QByteArray("http://192.168.0.10/cgi-bin/") << ip << -1
                                      << QByteArray();
    QTest::newRow("negative: bare cgi-bin") << ip << -1 << QByteArray("http://192.168.0.10/cgi-bin/") << ip << -1
                                            << QByteArray();
    QTest::newRow("with port") << QStringLiteral("192.168.0.10:8080") << 2
                               << QByteArray("http://192.168.0.10:8080/cgi-bin/qv_ptz?cmd=%23QSV1&res=1") << ip << 8080
                               << QByteArray("cmd=%23QSV1&res=1");
    QTest::newRow("host name") << QStringLiteral("cam-07.example.net") << 0
                               << QByteArray("http://cam-07.example.net/cgi-bin/qv_cam?cmd=QID&res=1")
                               << QStringLiteral("cam-07.example.net") << -1 << QByteArray("cmd=QID&res=1");
    QTest::newRow("empty: no host") << QString() << 1 << QByteArray("http:///cgi-bin/qv_ptz?cmd=%23QSV0&res=1")
                                    << QString() << -1 << QByteArray("cmd=%23QSV0&res=1");
    // Not trimmed: the blank is part of the bytes (and makes the URL unusable, as typed).
    QTest::newRow("trailing blank kept") << QStringLiteral("192.168.0.10 ") << 0
                                         << QByteArray("http://192.168.0.10 /cgi-bin/qv_cam?cmd=QID&res=1") << QString()
                                         << -1 << QByteArray();
}

void TestInquiry::url()
{
    QFETCH(QString, address);
    QFETCH(int, number);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, host);
    QFETCH(int, port);
    QFETCH(QByteArray, query);

    QCOMPARE(inquiryUrlBytes(address, number), bytes);

    const QUrl url = inquiryUrl(address, number);
    if (host.isEmpty() && !address.isEmpty()) {
        QVERIFY(!url.isValid());
        return;
    }
    QVERIFY2(url.isValid(), qPrintable(url.errorString()));
    QCOMPARE(url.host(), host);
    QCOMPARE(url.port(), port);
    QCOMPARE(url.scheme(), QStringLiteral("http"));
    QCOMPARE(url.query(QUrl::FullyEncoded).toLatin1(), query);
    // What goes on the wire: the path and query exactly as built, "%23" not decoded.
    QCOMPARE(url.toEncoded(), bytes);
}

void TestInquiry::answerText_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("version");

    QTest::newRow("plain") << QByteArray("qSV3V02.11abcd") << "qSV3V02.11abcd" << "V02.11";
    QTest::newRow("filler between prefix and version")
        << QByteArray("qSV3 any filler V02.11\r\n\r\n") << "qSV3 any filler V02.11\r\n\r\n" << "V02.11";
    QTest::newRow("cut at NUL") << QByteArray("qSV3V02.11abcd\0V09.99wxyz", 25) << "qSV3V02.11abcd" << "V02.11";
    QTest::newRow("leading NUL") << QByteArray("\0qSV3V02.11abcd", 15) << "" << "";
    QTest::newRow("latin-1 bytes") << QByteArray("qSV3\xe9V02.11\xff\xfe\x80\x01")
                                   << QStringLiteral("qSV3\u00e9V02.11\u00ff\u00fe\u0080\u0001") << "V02.11";
    QTest::newRow("exactly ten") << QByteArray("qSV3V02.11") << "qSV3V02.11" << "qSV3V0";
    QTest::newRow("short") << QByteArray("qSV3V02") << "qSV3V02" << "qSV3V0";
    QTest::newRow("four") << QByteArray("qSV3") << "qSV3" << "qSV3";
    QTest::newRow("empty") << QByteArray() << "" << "";
}

void TestInquiry::answerText()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, text);
    QFETCH(QString, version);

    QCOMPARE(inquiryAnswerText(body), text);
    QCOMPARE(inquiryVersionFromText(inquiryAnswerText(body)), version);
}

void TestInquiry::judge_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("qid");
    QTest::addColumn<bool>("failed");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<InquiryOutcome>("outcome");
    QTest::addColumn<int>("qidAfter");
    QTest::addColumn<QString>("tag");
    QTest::addColumn<QString>("version");
    QTest::addColumn<bool>("resetTk300");
    QTest::addColumn<int>("next");

    using O = InquiryOutcome;
    const auto row = [](const char* name, int index, int qid, bool failed, const QByteArray& body, O outcome,
                        int qidAfter, const char* tag, const char* version, bool reset, int next) {
        QTest::newRow(name) << index << qid << failed << body << outcome << qidAfter << QString::fromUtf8(tag)
                            << QString::fromLatin1(version) << reset << next;
    };

    // Any client error clears silently, whatever the body says.
    row("error on model", 0, 0, true, "OID:QV-TK10", O::NetworkFailed, 0, "", "", false, 0);
    row("error on QSV4", 5, 2, true, "qSV4V01.30abcd", O::NetworkFailed, 0, "", "", false, 0);
    row("error after end", 11, 3, true, "", O::NetworkFailed, 0, "", "", false, 0);

    row("TK10", 0, 0, false, "OID:QV-TK10", O::Next, 1, "■DEBUG■MW_CAM_MODEL_QID_QV_TK10()", "", false, 1);
    row("TK20", 0, 0, false, "OID:QV-TK20", O::Next, 2, "■DEBUG■MW_CAM_MODEL_QID_QV_TK20()", "", false, 1);
    row("TK300", 0, 0, false, "OID:QV-TK300", O::Next, 3, "■DEBUG■MW_CAM_MODEL_QID_QV_TK300()", "", false, 1);
    row("model text ends at NUL", 0, 0, false, QByteArray("OID:QV-TK300\0junk", 17), O::Next, 3,
        "■DEBUG■MW_CAM_MODEL_QID_QV_TK300()", "", false, 1);
    // The whole answer must match: nothing before or after, case as given.
    row("trailing CR LF", 0, 0, false, "OID:QV-TK10\r\n", O::AnswerFailed, 0, "", "", false, 0);
    row("leading blank", 0, 0, false, " OID:QV-TK20", O::AnswerFailed, 0, "", "", false, 0);
    row("TK20 prefix of longer", 0, 0, false, "OID:QV-TK200", O::AnswerFailed, 0, "", "", false, 0);
    row("TK300 cut short", 0, 0, false, "OID:QV-TK30", O::AnswerFailed, 0, "", "", false, 0);
    row("lower case", 0, 0, false, "oid:qv-tk10", O::AnswerFailed, 0, "", "", false, 0);
    row("no model answer for TK15", 0, 0, false, "OID:QV-TK15", O::AnswerFailed, 0, "", "", false, 0);
    row("restarting answer", 0, 0, false, "QID:RESTARTING", O::AnswerFailed, 0, "", "", false, 0);
    row("version answer to model", 0, 2, false, "qSV0V01.30abcd", O::AnswerFailed, 0, "", "", false, 0);
    row("empty model", 0, 0, false, "", O::AnswerFailed, 0, "", "", false, 0);

    row("QSV0", 1, 2, false, "qSV0V01.10abcd", O::Next, 2, "■DEBUG■Ver_PanTiltCPU", "V01.10", false, 2);
    row("QSV3 filler", 4, 1, false, "qSV3----V02.11wxyz", O::Next, 1, "■DEBUG■Ver_NetworkCPU", "V02.11", false, 5);
    row("QSV3 short keeps first six", 4, 1, false, "qSV3V02", O::Next, 1, "■DEBUG■Ver_NetworkCPU", "qSV3V0", false, 5);
    row("QSV3 prefix only", 4, 1, false, "qSV3", O::Next, 1, "■DEBUG■Ver_NetworkCPU", "qSV3", false, 5);
    row("QSV5", 6, 3, false, "qSV5V01.65abcd", O::Next, 3, "■DEBUG■Ver_TK300_InterfaceCPU", "V01.65", false, 7);
    row("QSV7", 8, 3, false, "qSV7V01.87abcd", O::Next, 3, "■DEBUG■Ver_TK300_InterfaceEEPROM", "V01.87", false, 9);
    // After QSV4 the model answer decides.
    row("QSV4 TK10 ends", 5, 1, false, "qSV4V01.54abcd", O::End, 1, "■DEBUG■Ver_OutputFPGA", "V01.54", false, 11);
    row("QSV4 TK20 skips to QSV8", 5, 2, false, "qSV4V01.54abcd", O::Next, 2, "■DEBUG■Ver_OutputFPGA", "V01.54", true, 9);
    row("QSV4 TK300 goes on", 5, 3, false, "qSV4V01.54abcd", O::Next, 3, "■DEBUG■Ver_OutputFPGA", "V01.54", false, 6);
    row("QSV4 no model answer", 5, 0, false, "qSV4V01.54abcd", O::Next, 0, "■DEBUG■Ver_OutputFPGA", "V01.54", true, 9);
    row("QSV8 TK20 ends", 9, 2, false, "qSV8V01.98abcd", O::End, 2, "■DEBUG■Ver_CameraEEPROM", "V01.98", false, 11);
    row("QSV8 TK300 ends", 9, 3, false, "qSV8V01.98abcd", O::End, 3, "■DEBUG■Ver_CameraEEPROM", "V01.98", false, 11);

    row("digit of the next inquiry", 4, 1, false, "qSV4V01.54abcd", O::AnswerFailed, 0, "", "", false, 0);
    row("upper-case Q", 4, 1, false, "QSV3V02.11abcd", O::AnswerFailed, 0, "", "", false, 0);
    row("prefix too short", 4, 1, false, "qSV", O::AnswerFailed, 0, "", "", false, 0);
    row("empty version answer", 1, 2, false, "", O::AnswerFailed, 0, "", "", false, 0);
    row("model answer to version", 1, 2, false, "OID:QV-TK20", O::AnswerFailed, 0, "", "", false, 0);
    row("prefix after NUL", 2, 2, false, QByteArray("\0qSV1V03.10abcd", 15), O::AnswerFailed, 0, "", "", false, 0);
    // Nothing is due once the sequence has ended (or for a number outside the table).
    row("after end, valid-looking", 11, 2, false, "qSV8V01.98abcd", O::AnswerFailed, 0, "", "", false, 0);
    row("after end, model answer", 11, 2, false, "OID:QV-TK20", O::AnswerFailed, 0, "", "", false, 0);
    row("number 10", 10, 2, false, "qSV9V01.98abcd", O::AnswerFailed, 0, "", "", false, 0);
    row("negative number", -1, 2, false, "OID:QV-TK20", O::AnswerFailed, 0, "", "", false, 0);
}

void TestInquiry::judge()
{
    QFETCH(int, index);
    QFETCH(int, qid);
    QFETCH(bool, failed);
    QFETCH(QByteArray, body);
    QFETCH(InquiryOutcome, outcome);
    QFETCH(int, qidAfter);
    QFETCH(QString, tag);
    QFETCH(QString, version);
    QFETCH(bool, resetTk300);
    QFETCH(int, next);

    const InquiryDecision d = judgeInquiryAnswer(index, qid, failed, body);
    QCOMPARE(d.outcome, outcome);
    QCOMPARE(d.qid, qidAfter);
    QCOMPARE(d.tag, tag);
    QCOMPARE(d.version, version);
    QCOMPARE(d.resetTk300Labels, resetTk300);
    QCOMPARE(d.next, next);
    const bool storesVersion = index >= 1 && index <= 9
                               && (outcome == InquiryOutcome::Next || outcome == InquiryOutcome::End);
    QCOMPARE(d.slot != nullptr, storesVersion);
    if (d.slot)
        QCOMPARE(d.slot->number, index);
}

void TestInquiry::sequence_data()
{
    QTest::addColumn<QByteArray>("modelAnswer");
    QTest::addColumn<int>("qid");
    QTest::addColumn<QList<int>>("asked"); // QSV digits, in order
    QTest::addColumn<bool>("resetTk300");

    QTest::newRow("TK10") << QByteArray("OID:QV-TK10") << int(CAM_QID_TK10) << QList<int>{0, 1, 2, 3, 4} << false;
    QTest::newRow("TK20") << QByteArray("OID:QV-TK20") << int(CAM_QID_TK20) << QList<int>{0, 1, 2, 3, 4, 8} << true;
    QTest::newRow("TK300") << QByteArray("OID:QV-TK300") << int(CAM_QID_TK300)
                           << QList<int>{0, 1, 2, 3, 4, 5, 6, 7, 8} << false;
}

// Drives the decisions the way the window does, with a camera that answers whatever it is
// asked, and checks what was asked and where each version landed.
void TestInquiry::sequence()
{
    QFETCH(QByteArray, modelAnswer);
    QFETCH(int, qid);
    QFETCH(QList<int>, asked);
    QFETCH(bool, resetTk300);

    cam_info info;
    int index = kInquiryModel;
    int keptQid = CAM_QID_NONE;
    QList<int> sent;
    bool sawReset = false;
    QByteArray path = inquiryCommandPath(index);
    QCOMPARE(path, QByteArray("qv_cam?cmd=QID&res=1"));

    for (int step = 0; step < 20; ++step) {
        QByteArray answer = modelAnswer;
        if (index != kInquiryModel) {
            QVERIFY(path.startsWith("qv_ptz?cmd=%23QSV"));
            const int qsv = path.at(17) - '0';
            sent << qsv;
            answer = versionAnswer(qsv);
        }
        const InquiryDecision d = judgeInquiryAnswer(index, keptQid, false, answer);
        QVERIFY(d.outcome == InquiryOutcome::Next || d.outcome == InquiryOutcome::End);
        keptQid = d.qid;
        if (d.slot)
            info.*(d.slot->field) = d.version;
        sawReset = sawReset || d.resetTk300Labels;
        index = d.next;
        if (d.outcome == InquiryOutcome::End)
            break;
        path = inquiryCommandPath(index);
    }

    QCOMPARE(index, kInquiryEnded);
    QCOMPARE(keptQid, qid);
    QCOMPARE(sent, asked);
    QCOMPARE(sawReset, resetTk300);
    QString cam_info::* const fields[9] = {
        &cam_info::Ver_PanTiltCPU,         &cam_info::Ver_CameraCPU,      &cam_info::Ver_CameraPLD,
        &cam_info::Ver_NetworkCPU,         &cam_info::Ver_OutputFPGA,     &cam_info::Ver_TK300_InterfaceCPU,
        &cam_info::Ver_TK300_LensFPGA,     &cam_info::Ver_TK300_InterfaceEEPROM, &cam_info::Ver_CameraEEPROM,
    };
    for (int qsv = 0; qsv < 9; ++qsv) {
        const QString expected = asked.contains(qsv) ? QLatin1String(kVersions[qsv]) : QString();
        QCOMPARE(info.*fields[qsv], expected);
    }
}

QTEST_APPLESS_MAIN(TestInquiry)
#include "tst_inquiry.moc"
