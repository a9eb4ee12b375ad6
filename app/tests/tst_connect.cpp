// Connect against the simulated camera on loopback: what goes on the wire and what the
// window shows. Its failures, and Connect after the end, are provoked in tst_faults.
#include "app/mainwindow.h"
#include "sim/camerasim.h"
#include "tests/support/logcapture.h"
#include "tests/support/operator.h"

#include <QNetworkReply>
#include <QtTest>

namespace {

// What the answer to QSV0..QSV8 fills: value label, record field, debug tag.
const struct {
    const char* label;
    QString cam_info::*field;
    const char* tag;
} kQsv[9] = {
    {"IP_CPU_ServoVer", &cam_info::Ver_PanTiltCPU, "Ver_PanTiltCPU"},
    {"IP_CPU_CamMainVer", &cam_info::Ver_CameraCPU, "Ver_CameraCPU"},
    {"IP_FPGA_FrontVer", &cam_info::Ver_CameraPLD, "Ver_CameraPLD"},
    {"IP_CPU_NetworkSoftVer", &cam_info::Ver_NetworkCPU, "Ver_NetworkCPU"},
    {"IP_FPGA_BackendVer", &cam_info::Ver_OutputFPGA, "Ver_OutputFPGA"},
    {"IP_CPU_InterfaceVer", &cam_info::Ver_TK300_InterfaceCPU, "Ver_TK300_InterfaceCPU"},
    {"IP_FPGA_LensVer", &cam_info::Ver_TK300_LensFPGA, "Ver_TK300_LensFPGA"},
    {"IP_EEPROM_InterfaceVer", &cam_info::Ver_TK300_InterfaceEEPROM, "Ver_TK300_InterfaceEEPROM"},
    {"IP_EEPROM_CamMainVer", &cam_info::Ver_CameraEEPROM, "Ver_CameraEEPROM"},
};
const QList<int> kAsks[4] = {{}, {0, 1, 2, 3, 4}, {0, 1, 2, 3, 4, 8}, {0, 1, 2, 3, 4, 5, 6, 7, 8}}; // by model answer
const QString kModelTarget = QStringLiteral("/cgi-bin/qv_cam?cmd=QID&res=1");
QString versionTarget(int qsv) { return QStringLiteral("/cgi-bin/qv_ptz?cmd=%23QSV%1&res=1").arg(qsv); }

} // namespace

class TestConnect : public QObject
{
    Q_OBJECT

private slots:
    void identifies_data()
    {
        QTest::addColumn<int>("model");
        QTest::addColumn<bool>("shortAnswers");  // versions of fewer than ten characters
        QTest::addColumn<int>("qid");
        QTest::addColumn<int>("found");
        QTest::addColumn<QString>("display");
        QTest::addColumn<QString>("tag");  // the identification's debug line
        QTest::newRow("TK10") << 1 << false << 1 << 1 << "QV-TK10" << "QV_TK10";
        QTest::newRow("TKD7 S") << 2 << false << 1 << 2 << "QV-TKD7S" << "QV_TKD7_S";
        QTest::newRow("TKD7 H") << 3 << false << 1 << 3 << "QV-TKD7H" << "QV_TKD7_H";
        QTest::newRow("TK300") << 4 << false << 3 << 4 << "QV-TK300" << "QV_TK300";
        QTest::newRow("old TK20 S") << 5 << false << 2 << 5 << "QV-TK20S" << "QV_OLD_TK20_S";
        QTest::newRow("old TK20 H") << 6 << false << 2 << 6 << "QV-TK20H" << "QV_OLD_TK20_H";
        QTest::newRow("new TK20 S") << 7 << false << 2 << 7 << "QV-TK20S" << "QV_NEW_TK20_S";
        QTest::newRow("new TK20 H") << 8 << false << 2 << 8 << "QV-TK20H" << "QV_NEW_TK20_H";
        QTest::newRow("old TK15 S") << 9 << false << 2 << 9 << "QV-TK15S" << "QV_OLD_TK15_S";
        QTest::newRow("old TK15 H") << 10 << false << 2 << 10 << "QV-TK15H" << "QV_OLD_TK15_H";
        QTest::newRow("new TK15 S") << 11 << false << 2 << 11 << "QV-TK15S" << "QV_NEW_TK15_S";
        QTest::newRow("new TK15 H") << 12 << false << 2 << 12 << "QV-TK15H" << "QV_NEW_TK15_H";
        // Short answers keep their first six characters and the sequence goes on to its end;
        // only the TK300 answer still names a model.
        QTest::newRow("TK300, short") << 4 << true << 3 << 4 << "QV-TK300" << "QV_TK300";
        QTest::newRow("TK20, short") << 8 << true << 2 << 0 << "----" << "NONE6";
        QTest::newRow("TK10, short") << 1 << true << 1 << 0 << "----" << "NONE6";
    }

    void identifies()
    {
        QFETCH(int, model);
        QFETCH(bool, shortAnswers);
        QFETCH(int, qid);
        QFETCH(int, found);
        CameraSim sim;
        QVERIFY(sim.start() > 0 && sim.setModel(model));
        SimFaults faults;
        faults.versionShort = shortAnswers;
        sim.setFaults(faults);
        LogCapture log;
        MainWindow w;
        w.show();
        ModalWatcher boxes;
        const QString address = QString::fromStdString(sim.address());
        child<QLineEdit>(w, "IPAddressWriteSpace")->setText(address);
        for (int qsv : {5, 6, 7})  // left-overs a TK20 answer must set back to "----"
            child<QLabel>(w, kQsv[qsv].label)->setText(QStringLiteral("V09.99"));
        // Connect; a few seconds at most for the sequence to end, and every reply released.
        child<QPushButton>(w, "IPAddressButton")->click();
        QTRY_VERIFY_WITH_TIMEOUT(log.contains("Camera END") || log.contains("Camera Err2") || !boxes.texts().isEmpty(), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(w.findChildren<QNetworkReply*>().size(), 0, 2000);
        QVERIFY(boxes.texts().isEmpty());
        QStringList received, targets{kModelTarget};
        for (const SimRequest& r : sim.requests()) {
            received << QString::fromStdString(r.target);
            QCOMPARE(r.method, std::string("GET"));
            for (const auto& h : r.headers)  // the client's own headers only: no credentials
                QVERIFY2(QStringList({"host", "connection", "accept-encoding", "accept-language", "user-agent"})
                             .contains(QString::fromStdString(h.first).toLower()), h.first.c_str());
        }
        QVERIFY(mw_Qid == qid && w.mw_ReqCamIndex == 11);
        QCOMPARE(mw_CamInfo.ModelID, found);
        QTEST(child<QLabel>(w, "IP_ModelVer")->text(), "display");
        QCOMPARE(mw_VupFileInfo.CamIPAddress, address);
        QVERIFY(firmwareAreaIs(w, Qt::black));

        QStringList expected{"■DEBUG■MW_ConnectCamera()", "■DEBUG■mw_ReqCam()", u'"' + address + u'"',
                             "\"http://" + address + kModelTarget + u'"', "■DEBUG■MW_CAM_finished()", "0",
                             QStringLiteral("■DEBUG■MW_CAM_MODEL_QID_QV_%1()").arg(QStringList{"", "TK10", "TK20", "TK300"}[qid]),
                             "Camera NEXT"};
        for (int qsv = 0; qsv < 9; ++qsv) {
            const bool asked = kAsks[qid].contains(qsv);
            const QString version = !asked ? QString()
                : shortAnswers ? QStringLiteral("qSV%1V0").arg(qsv)
                               : QString::fromLatin1(simProfile(model)->versions[size_t(qsv)]);
            QCOMPARE(mw_CamInfo.*kQsv[qsv].field, version);
            if (qid != 1 || qsv < 5 || qsv > 7)  // a TK10 answer leaves the TK300 labels alone
                QCOMPARE(child<QLabel>(w, kQsv[qsv].label)->text(), asked ? version : QStringLiteral("----"));
            if (asked) {
                targets << versionTarget(qsv);
                expected << "\"http://" + address + targets.last() + u'"' << "■DEBUG■MW_CAM_finished()"
                         << "■DEBUG■" + QLatin1String(kQsv[qsv].tag) << u'"' + version + u'"';
            }
        }
        QFETCH(QString, tag);
        expected << "■DEBUG■mw_SetModel()" << "■DEBUG■CAM_MODELID_" + tag << "■DEBUG■NOTERR" << "Camera END";
        QVERIFY2(log.containsInOrder(expected), qPrintable(log.text()));
        QCOMPARE(log.count("Camera NEXT"), int(kAsks[qid].size()));
        QCOMPARE(received, targets);
    }
};

QTEST_MAIN(TestConnect)
#include "tst_connect.moc"
