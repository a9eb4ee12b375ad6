// Connect against the simulated camera on loopback: what goes on the wire, what the window
// shows, and how every failure brings it back to a fresh start.
#include "app/mainwindow.h"
#include "sim/camerasim.h"
#include "tests/support/logcapture.h"

#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QNetworkReply>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <memory>

namespace {

// What the answer to QSV0..QSV8 fills: value label, record field, debug tag.
struct Qsv {
    const char* label;
    QString cam_info::*field;
    const char* tag;
};
const Qsv kQsv[9] = {
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

QStringList sequence(int qid)
{
    QStringList t{kModelTarget};
    for (int qsv : kAsks[qid])
        t << versionTarget(qsv);
    return t;
}

QString text(MainWindow& w, const char* name) { return w.findChild<QLabel*>(QLatin1String(name))->text(); }

bool firmwareAreaIs(MainWindow& w, const QColor& colour)
{
    for (const char* name : {"VerUpFile", "VerUpFileInfoFrame"})
        for (auto g : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
            if (w.findChild<QWidget*>(QLatin1String(name))->palette().color(g, QPalette::WindowText) != colour)
                return false;
    return true;
}

bool cleared(MainWindow& w)
{
    for (const Qsv& q : kQsv)
        if (text(w, q.label) != QLatin1String("----"))
            return false;
    return text(w, "IP_ModelVer") == QLatin1String("----") && firmwareAreaIs(w, QColor(0x80, 0x80, 0x80)) && mw_Qid == 0
           && w.mw_ReqCamIndex == 0 && mw_CamInfo.Ver_CameraCPU.isEmpty() && mw_VupFileInfo.CamIPAddress.isEmpty();
}

// Answers every request with one fixed 200 answer the simulated camera never gives.
class CannedCamera : public QTcpServer
{
public:
    explicit CannedCamera(const QByteArray& body)
    {
        listen(QHostAddress::LocalHost, 0);
        connect(this, &QTcpServer::newConnection, this, [this, body] {
            QTcpSocket* s = nextPendingConnection();
            connect(s, &QTcpSocket::readyRead, s, [this, s, body] {
                if (!s->peek(4096).contains("\r\n\r\n"))
                    return;
                lines << QString::fromLatin1(s->readLine().trimmed());
                s->write("HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: " + QByteArray::number(body.size())
                         + "\r\n\r\n" + body);
                s->disconnectFromHost();
            });
        });
    }
    QStringList lines;
};

enum class Setup { Http404, Unreachable, EmptyAddress, CrLf, OtherModel, WrongPrefix, AgainAfterEnd, AgainAfterEnd200 };

} // namespace

Q_DECLARE_METATYPE(Setup)

class TestConnect : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void identifies_data();
    void identifies();
    void shortVersions_data();
    void shortVersions();
    void failure_data();
    void failure();

private:
    void connectAndSettle();
    QStringList received() const;

    std::unique_ptr<CameraSim> sim;
    std::unique_ptr<LogCapture> log;
    std::unique_ptr<MainWindow> w;
    QLineEdit* address = nullptr;
    QStringList boxes; // text, title and parent of each box, and whether the window was cleared behind it
    QTimer operatorAtBox;
};

void TestConnect::init()
{
    sim = std::make_unique<CameraSim>();
    QVERIFY(sim->start() > 0);
    log = std::make_unique<LogCapture>();
    w = std::make_unique<MainWindow>();
    w->show();
    address = w->findChild<QLineEdit*>(QStringLiteral("IPAddressWriteSpace"));
    address->setText(QString::fromStdString(sim->address()));
    boxes.clear();
    operatorAtBox.disconnect();
    connect(&operatorAtBox, &QTimer::timeout, this, [this] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            boxes << box->text() + u'|' + box->windowTitle() + u'|' + box->parentWidget()->objectName() + u'|'
                         + (cleared(*w) ? u'C' : u'-');
            box->accept();
        }
    });
    operatorAtBox.start(5);
}

void TestConnect::cleanup()
{
    operatorAtBox.stop();
    w.reset();
    log.reset();
    sim.reset();
}

// Presses Connect, waits a few seconds at most for the sequence to end or fail, and checks
// that every handled reply has been released.
void TestConnect::connectAndSettle()
{
    const auto settled = [this] {
        return log->count(QStringLiteral("Camera END")) + log->count(QStringLiteral("Camera Err2")) + boxes.size();
    };
    const int before = int(settled());
    w->findChild<QPushButton*>(QStringLiteral("IPAddressButton"))->click();
    QTRY_VERIFY_WITH_TIMEOUT(settled() > before, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(w->findChildren<QNetworkReply*>().size(), 0, 2000);
}

QStringList TestConnect::received() const
{
    QStringList t;
    for (const SimRequest& r : sim->requests())
        t << QString::fromStdString(r.target);
    return t;
}

void TestConnect::identifies_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<int>("qid");
    QTest::addColumn<QString>("display");

    QTest::newRow("TK10") << 1 << 1 << "QV-TK10";
    QTest::newRow("TKD7 S") << 2 << 1 << "QV-TKD7S";
    QTest::newRow("TKD7 H") << 3 << 1 << "QV-TKD7H";
    QTest::newRow("TK300") << 4 << 3 << "QV-TK300";
    QTest::newRow("old TK20 S") << 5 << 2 << "QV-TK20S";
    QTest::newRow("old TK20 H") << 6 << 2 << "QV-TK20H";
    QTest::newRow("new TK20 S") << 7 << 2 << "QV-TK20S";
    QTest::newRow("new TK20 H") << 8 << 2 << "QV-TK20H";
    QTest::newRow("old TK15 S") << 9 << 2 << "QV-TK15S";
    QTest::newRow("old TK15 H") << 10 << 2 << "QV-TK15H";
    QTest::newRow("new TK15 S") << 11 << 2 << "QV-TK15S";
    QTest::newRow("new TK15 H") << 12 << 2 << "QV-TK15H";
}

void TestConnect::identifies()
{
    QFETCH(int, model);
    QFETCH(int, qid);
    QFETCH(QString, display);

    QVERIFY(sim->setModel(model));
    for (int qsv : {5, 6, 7}) // left-overs a TK20 answer must set back to "----"
        w->findChild<QLabel*>(QLatin1String(kQsv[qsv].label))->setText(QStringLiteral("V09.99"));
    connectAndSettle();

    QVERIFY(boxes.isEmpty());
    QCOMPARE(received(), sequence(qid));
    for (const SimRequest& r : sim->requests()) {
        QCOMPARE(r.method, std::string("GET"));
        for (const auto& h : r.headers) // the client's own headers only: no credentials
            QVERIFY2(QStringList({"host", "connection", "accept-encoding", "accept-language", "user-agent"})
                         .contains(QString::fromStdString(h.first).toLower()), h.first.c_str());
    }
    QCOMPARE(mw_Qid, qid);
    QCOMPARE(w->mw_ReqCamIndex, 11);
    QCOMPARE(mw_CamInfo.ModelID, model);
    QCOMPARE(text(*w, "IP_ModelVer"), display);
    QCOMPARE(mw_VupFileInfo.CamIPAddress, address->text());
    QVERIFY(firmwareAreaIs(*w, Qt::black));

    const QString quotedAddress = u'"' + address->text() + u'"';
    QStringList expected{"■DEBUG■MW_ConnectCamera()", "■DEBUG■mw_ReqCam()", quotedAddress,
                         "\"http://" + address->text() + kModelTarget + u'"', "■DEBUG■MW_CAM_finished()", "0",
                         QStringLiteral("■DEBUG■MW_CAM_MODEL_QID_QV_%1()").arg(QStringList{"", "TK10", "TK20", "TK300"}[qid]),
                         "Camera NEXT"};
    for (int qsv = 0; qsv < 9; ++qsv) {
        const bool asked = kAsks[qid].contains(qsv);
        const QString version = asked ? QString::fromLatin1(simProfile(model)->versions[size_t(qsv)]) : QString();
        QCOMPARE(mw_CamInfo.*kQsv[qsv].field, version);
        if (qid != 1 || qsv < 5 || qsv > 7) // a TK10 answer leaves the TK300 labels alone
            QCOMPARE(text(*w, kQsv[qsv].label), asked ? version : QStringLiteral("----"));
        if (asked)
            expected << "\"http://" + address->text() + versionTarget(qsv) + u'"' << "■DEBUG■MW_CAM_finished()"
                     << "■DEBUG■" + QLatin1String(kQsv[qsv].tag) << u'"' + version + u'"';
    }
    expected << "■DEBUG■mw_SetModel()" << "■DEBUG■" + modelIdName(model) << "■DEBUG■NOTERR" << "Camera END";
    QVERIFY2(log->containsInOrder(expected), qPrintable(log->text()));
    QCOMPARE(log->count("Camera NEXT"), int(kAsks[qid].size()));
}

void TestConnect::shortVersions_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<int>("qid");
    QTest::addColumn<int>("found");

    // Short answers keep their first six characters and the sequence goes on to its end; only
    // the TK300 answer still names a model.
    QTest::newRow("TK300") << 4 << 3 << 4;
    QTest::newRow("TK20") << 8 << 2 << 0;
    QTest::newRow("TK10") << 1 << 1 << 0;
}

void TestConnect::shortVersions()
{
    QFETCH(int, model);
    QFETCH(int, qid);
    QFETCH(int, found);

    QVERIFY(sim->setModel(model));
    SimFaults faults;
    faults.versionShort = true;
    sim->setFaults(faults);
    connectAndSettle();

    QVERIFY(boxes.isEmpty());
    QCOMPARE(received(), sequence(qid));
    for (int qsv : kAsks[qid]) {
        QCOMPARE(mw_CamInfo.*kQsv[qsv].field, QStringLiteral("qSV%1V0").arg(qsv));
        QCOMPARE(text(*w, kQsv[qsv].label), QStringLiteral("qSV%1V0").arg(qsv));
    }
    QCOMPARE(mw_CamInfo.ModelID, found);
    QCOMPARE(text(*w, "IP_ModelVer"), modelDisplayName(found));
    QVERIFY(firmwareAreaIs(*w, Qt::black));
    QVERIFY(log->containsInOrder({"■DEBUG■NOTERR", "Camera END"}));
}

void TestConnect::failure_data()
{
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<QStringList>("received"); // by the simulated camera, for the failing Connect
    QTest::addColumn<bool>("box");

    QTest::newRow("HTTP 404") << Setup::Http404 << QStringList{"/elsewhere" + kModelTarget} << false;
    QTest::newRow("unreachable") << Setup::Unreachable << QStringList() << false;
    QTest::newRow("empty address") << Setup::EmptyAddress << QStringList() << false;
    QTest::newRow("model answer CR LF") << Setup::CrLf << QStringList{kModelTarget} << true;
    QTest::newRow("another model") << Setup::OtherModel << QStringList() << true;
    QTest::newRow("wrong version prefix") << Setup::WrongPrefix << QStringList{kModelTarget, versionTarget(0)} << true;
    QTest::newRow("again after end, 404") << Setup::AgainAfterEnd << QStringList{"/cgi-bin/"} << false;
    QTest::newRow("again after end, 200") << Setup::AgainAfterEnd200 << QStringList() << true;
}

void TestConnect::failure()
{
    QFETCH(Setup, setup);
    QFETCH(QStringList, received);
    QFETCH(bool, box);

    const QString simAddress = address->text();
    std::unique_ptr<CannedCamera> canned;
    SimFaults faults;
    faults.modelAnswerCrLf = setup == Setup::CrLf;
    faults.versionWrongPrefix = setup == Setup::WrongPrefix;
    sim->setFaults(faults);
    QVERIFY(sim->setModel(CAM_MODELID_QV_TK300));
    if (setup == Setup::AgainAfterEnd || setup == Setup::AgainAfterEnd200) {
        connectAndSettle();
        QVERIFY(w->mw_ReqCamIndex == 11 && firmwareAreaIs(*w, Qt::black));
        sim->clearLog();
    }
    if (setup == Setup::Http404) {
        address->setText(simAddress + "/elsewhere");
    } else if (setup == Setup::Unreachable) {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
        address->setText("127.0.0.1:" + QString::number(closed.serverPort()));
    } else if (setup == Setup::EmptyAddress) {
        address->clear();
    } else if (setup == Setup::OtherModel || setup == Setup::AgainAfterEnd200) {
        canned = std::make_unique<CannedCamera>(setup == Setup::OtherModel ? "OID:QV-TK15" : "OK");
        address->setText("127.0.0.1:" + QString::number(canned->serverPort()));
    }
    log->clear();
    connectAndSettle();

    QCOMPARE(this->received(), received);
    if (canned)
        QCOMPARE(canned->lines, QStringList{"GET " + (setup == Setup::OtherModel ? kModelTarget : "/cgi-bin/")
                                           + " HTTP/1.1"});
    QVERIFY(cleared(*w));
    const QStringList tail = log->lines().mid(int(log->lines().lastIndexOf("■DEBUG■MW_CAM_finished()")));
    if (box) {
        QCOMPARE(boxes, QStringList{"Camera Err||MainWindow|C"});
        QCOMPARE(tail.mid(1, 1), QStringList{"0"});
        QVERIFY(log->containsInOrder({"■DEBUG■MW_CAM_finished()", "■DEBUG■mw_initializeAllCrear()", "Camera Err1"}));
    } else {
        QVERIFY(boxes.isEmpty());
        QVERIFY(tail.size() > 3 && tail[1] != "0");
        QCOMPARE(tail.mid(2, 2), QStringList({"Camera Err2", "■DEBUG■mw_initializeAllCrear()"}));
    }
    QCOMPARE(log->count("Camera Err1") + log->count("Camera Err2"), 1);
    QVERIFY(!log->contains("Camera END"));

    // A fresh start: the next Connect asks for the model first and runs to the end.
    canned.reset();
    sim->setFaults({});
    sim->clearLog();
    address->setText(simAddress);
    connectAndSettle();
    QCOMPARE(this->received(), sequence(3));
    QCOMPARE(mw_CamInfo.ModelID, int(CAM_MODELID_QV_TK300));
}

QTEST_MAIN(TestConnect)
#include "tst_connect.moc"
