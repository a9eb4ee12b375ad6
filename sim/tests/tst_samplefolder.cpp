// The sample folder against the simulated camera. What the tool's own rules say of the
// folder is checked by app/check/tests/tst_foldercheck.cpp.
#include "camera/caminfo.h"
#include "sim/camerasim.h"
#include "sim/samplefolder.h"
#include "sim/tests/simclient.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

class TestSampleFolder : public QObject {
    Q_OBJECT

    QTemporaryDir dir;

private slots:
    void initTestCase()
    {
        std::string error;
        QVERIFY2(dir.isValid() && writeSampleFolder(dir.path().toStdString(), {}, &error), error.c_str());
    }

    // The folder under samples/ is what the generator writes today.
    void shippedFolderIsCurrent()
    {
        const QDir shipped(QStringLiteral(KELVORA_SHIPPED_SAMPLES));
        const QStringList names = QDir(dir.path()).entryList(QDir::Files, QDir::Name);
        QCOMPARE(shipped.entryList(QDir::Files, QDir::Name), names);
        for (const QString& name : names) {
            QFile a(dir.filePath(name));
            QFile b(shipped.filePath(name));
            QVERIFY(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
            QVERIFY2(a.readAll() == b.readAll(), qPrintable(name));
        }
    }

    void updateKeepsModel_data()
    {
        QTest::addColumn<int>("model");
        for (int id = kFirstModelId; id <= kLastModelId; ++id)
            QTest::newRow(sampleSectionName(id)) << id;
    }

    // Uploading the model's files the way the tool would leaves the camera reporting each
    // list-file version in place of the one it started with, and still the same model.
    void updateKeepsModel()
    {
        QFETCH(int, model);
        CameraSim sim;
        QVERIFY(sim.setModel(model));
        const int port = sim.start();
        QVERIFY(port > 0);
        QNetworkAccessManager nam;
        const QByteArray auth = QByteArray::fromStdString(simBasicAuthorization("admin", "password"));
        QSettings ini(dir.filePath(QStringLiteral("verup_list.ini")), QSettings::IniFormat);

        const std::vector<SampleFile> files = sampleFirmwareFiles(model);
        QVERIFY(!files.empty());
        for (const SampleFile& f : files) {
            const QString name = QString::fromStdString(f.fileName);
            QCOMPARE(ini.value(QLatin1String(sampleSectionName(model)) + u'/' + QString::fromStdString(f.key)).toString(),
                     name);
            QCOMPARE(ini.value(name + QStringLiteral("/version")).toString().toStdString(), f.version);
            QVERIFY2(f.version != sim.version(f.component), f.fileName.c_str());
            QFile file(dir.filePath(name));
            QVERIFY(file.open(QIODevice::ReadOnly));
            const HttpResult r = postFirmware(nam, port, model, name.toLatin1(), file.readAll(), auth);
            QCOMPARE(r.status, 200);
            QVERIFY(sim.isRestarting());
            sim.finishRestartNow();
        }

        QStringList versions;
        for (int n = 0; n < kSimComponentCount; ++n) {
            const HttpResult r = httpGet(nam, port, "/cgi-bin/qv_ptz?cmd=%23QSV" + QByteArray::number(n) + "&res=1");
            versions << QString::fromLatin1(r.body).right(10).left(6);
        }
        for (const SampleFile& f : files)
            QCOMPARE(versions[f.component].toStdString(), f.version);
        const QByteArray qid = httpGet(nam, port, "/cgi-bin/qv_cam?cmd=QID&res=1").body;
        const int qidCode = qid == "OID:QV-TK10" ? CAM_QID_TK10 : qid == "OID:QV-TK20" ? CAM_QID_TK20 : CAM_QID_TK300;
        QCOMPARE(identifyModel(qidCode, versions[SIM_CAM_CPU], versions[SIM_BACKEND_FPGA]).modelId, model);
    }
};

QTEST_GUILESS_MAIN(TestSampleFolder)
#include "tst_samplefolder.moc"
