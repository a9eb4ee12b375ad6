#include "fleet/fleetplan.h"

#include "firmware/listfile.h"
#include "update/firmwarefiles.h"
#include "tests/support/fiforelease.h"
#include "tests/support/logcapture.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

namespace {

// A TK300 section naming all nine components; vupno orders them differently from the
// component order, with a tie between servo_cpu and front_fpga.
const QByteArray kTk300 =
    "[TK300]\ncam_cpu=cam.bin\nnetwork_cpu=net.img\nservo_cpu=servo.spt\ninterface_cpu=if.sif\nfront_fpga=front.bin\n"
    "backend_fpga=back.bin\nlens_fpga=lens.bin\neeprom_cam=cam.eep\ninterface_eeprom=if.eep\n"
    "[cam.bin]\nversion=V01.50\nvupno=9\n[net.img]\nversion=V02.20\nvupno=1\n[servo.spt]\nversion=V01.20\nvupno=3\n"
    "[if.sif]\nversion=V01.30\nvupno=2\n[front.bin]\nversion=V01.10\nvupno=3\n[back.bin]\nversion=V01.40\nvupno=8\n"
    "[lens.bin]\nversion=V01.05\nvupno=7\n[cam.eep]\nversion=V01.10\nvupno=5\n[if.eep]\nversion=V01.10\nvupno=6\n";

// The camera runs exactly the folder's versions.
const QString kSame = QStringLiteral("cam_cpu=V01.50 network_cpu=V02.20 servo_cpu=V01.20 interface_cpu=V01.30 "
                                     "front_fpga=V01.10 backend_fpga=V01.40 lens_fpga=V01.05 eeprom_cam=V01.10 "
                                     "interface_eeprom=V01.10");

// The camera record's field for each list-file key, written out here on its own so that a
// mix-up in the program's table shows.
QString* cameraField(cam_info& info, const QString& key)
{
    const std::pair<const char*, QString*> fields[] = {
        {"cam_cpu", &info.Ver_CameraCPU},           {"network_cpu", &info.Ver_NetworkCPU},
        {"servo_cpu", &info.Ver_PanTiltCPU},        {"interface_cpu", &info.Ver_TK300_InterfaceCPU},
        {"front_fpga", &info.Ver_CameraPLD},        {"backend_fpga", &info.Ver_OutputFPGA},
        {"lens_fpga", &info.Ver_TK300_LensFPGA},    {"eeprom_cam", &info.Ver_CameraEEPROM},
        {"interface_eeprom", &info.Ver_TK300_InterfaceEEPROM},
    };
    for (const auto& f : fields) {
        if (key == QLatin1String(f.first))
            return f.second;
    }
    qFatal("unknown key");
}

// "key=version ..." over `base`; "key=" empties one.
cam_info camera(int model, const QString& base, const QString& changes)
{
    cam_info info;
    info.ModelID = model;
    for (const QString& pair : (base + QLatin1Char(' ') + changes).split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const QStringList kv = pair.split(QLatin1Char('='));
        *cameraField(info, kv[0]) = kv.value(1);
    }
    return info;
}

// "end: reason" of a refused plan, or the keys in upload order.
QString describe(const CameraPlan& plan)
{
    if (!plan.valid)
        return fleetEndName(plan.end) + QStringLiteral(": ") + plan.reason;
    QStringList keys;
    for (const PlannedFile& f : plan.files)
        keys << QLatin1String(kComponents[std::size_t(f.component)].key);
    return keys.join(QLatin1Char(' '));
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// The list file and every file of kTk300, each holding its own name, but those `missing`
// leaves out and those `empty` leaves empty.
bool writeFolder(const QString& dir, const QByteArray& ini, const QStringList& missing = {}, const QStringList& empty = {})
{
    if (!writeFile(listFilePath(dir), ini))
        return false;
    for (const char* name : {"cam.bin", "net.img", "servo.spt", "if.sif", "front.bin", "back.bin", "lens.bin", "cam.eep", "if.eep"}) {
        const QString file = QLatin1String(name);
        if (!missing.contains(file) && !writeFile(QDir(dir).filePath(file), empty.contains(file) ? QByteArray() : QByteArray(name)))
            return false;
    }
    return true;
}

} // namespace

class TestFleetPlan : public QObject
{
    Q_OBJECT

private slots:
    void choose_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<int>("model");
        QTest::addColumn<QString>("cameraChanges");  // over kSame
        QTest::addColumn<bool>("all");
        QTest::addColumn<QString>("only");
        QTest::addColumn<QString>("plan");  // describe()
        QTest::addColumn<QString>("missing");  // files of the folder left out
        QTest::addColumn<QString>("empty");    // files of the folder left empty

        QTest::newRow("only what differs") << kTk300 << 4 << "cam_cpu=V01.40 eeprom_cam=V01.00" << false << ""
                                           << "eeprom_cam cam_cpu" << "" << "";
        QTest::newRow("all, ties in component order") << kTk300 << 4 << "" << true << ""
            << "network_cpu interface_cpu servo_cpu front_fpga eeprom_cam interface_eeprom lens_fpga backend_fpga cam_cpu" << "" << "";
        QTest::newRow("only narrows all") << kTk300 << 4 << "" << true << "cam_cpu,lens_fpga" << "lens_fpga cam_cpu" << "" << "";
        QTest::newRow("only narrows what differs") << kTk300 << 4 << "cam_cpu=V01.40 network_cpu=V02.00" << false
                                                   << "network_cpu,servo_cpu" << "network_cpu" << "" << "";
        QTest::newRow("unknown on the camera is not sent") << kTk300 << 4 << "lens_fpga= interface_cpu=V01.00" << false
                                                           << "" << "interface_cpu" << "" << "";
        QTest::newRow("nothing differs") << kTk300 << 4 << "" << false << ""
                                         << "up-to-date: the camera runs the folder's versions" << "" << "";
        QTest::newRow("what is asked for is current") << kTk300 << 4 << "cam_cpu=V01.40" << false << "servo_cpu,lens_fpga"
                                                      << "up-to-date: the camera runs the folder's versions" << "" << "";
        QTest::newRow("versions not known") << kTk300 << 4 << "lens_fpga= interface_cpu=" << false << "lens_fpga,interface_cpu"
            << "nothing-to-send: the versions of the components asked for are not known on both sides (--all sends them)" << "" << "";
        QByteArray noLens = kTk300;
        noLens.replace("lens_fpga=lens.bin\n", "");
        QTest::newRow("asked for, no file") << noLens << 4 << "" << true << "lens_fpga"
                                            << "nothing-to-send: no component asked for has a file" << "" << "";
        QByteArray noVersion = kTk300;
        noVersion.replace("[lens.bin]\nversion=V01.05\n", "[lens.bin]\n");
        QTest::newRow("unknown in the folder is not sent") << noVersion << 4 << "lens_fpga=V01.00 cam_cpu=V01.40" << false
                                                           << "" << "cam_cpu" << "" << "";
        QByteArray zero = kTk300;
        zero.replace("[lens.bin]\nversion=V01.05\nvupno=7\n", "[lens.bin]\nversion=V01.05\nvupno=0\n");
        QTest::newRow("vupno 0 refuses the plan") << zero << 4 << "" << true << ""
                                                  << "no-upload-order: lens_fpga (lens.bin) has no upload order number (vupno)" << "" << "";
        QTest::newRow("vupno 0 not asked for") << zero << 4 << "cam_cpu=V01.00" << false << "" << "cam_cpu" << "" << "";
        QByteArray refused = kTk300;
        refused.replace("[servo.spt]\nversion=V01.20", "[servo.spt]\nversion=V02.20");
        QTest::newRow("versions refused, even unasked") << refused << 4 << "cam_cpu=V01.00" << false << "cam_cpu"
            << "versions-refused: servo_cpu version \"V02.20\" is not allowed for QV_TK300 (V01.00-V01.99)" << "" << "";
        QTest::newRow("no section for the model") << kTk300 << 1 << "" << true << ""
                                                  << "no-section: the list file has no usable section for QV_TK10 (looked for [TK10], [TKD7_S], [TKD7_H])" << "" << "";
        QTest::newRow("unknown model") << kTk300 << 0 << "" << true << "" << "no-section: the camera's model is unknown" << "" << "";
        QByteArray outside = kTk300;
        outside.replace("lens_fpga=lens.bin", "lens_fpga=../lens.bin");
        outside.replace("[lens.bin]", "[..%2Flens.bin]");
        QTest::newRow("name outside the folder") << outside << 4 << "" << true << ""
                                                 << "file-unreadable: lens_fpga names \"../lens.bin\", which is not inside the folder" << "" << "";
        QTest::newRow("outside, not asked for") << outside << 4 << "cam_cpu=V01.00" << false << "" << "cam_cpu" << "" << "";
        QByteArray absolute = kTk300;
        absolute.replace("cam_cpu=cam.bin", "cam_cpu=/cam.bin");
        QTest::newRow("absolute name") << absolute << 4 << "cam_cpu=V01.00" << false << ""
                                       << "file-unreadable: cam_cpu names \"/cam.bin\", which is not inside the folder" << "" << "";
        // Every file to send is read as the plan is made: what cannot be sent refuses it.
        QTest::newRow("a file to send is missing") << kTk300 << 4 << "cam_cpu=V01.40" << false << ""
                                                   << "file-unreadable: cam.bin (cam_cpu) cannot be read: does not exist"
                                                   << "cam.bin" << "";
        QTest::newRow("a file to send is empty") << kTk300 << 4 << "cam_cpu=V01.40 eeprom_cam=V01.00" << false << ""
                                                 << "file-empty: cam.eep (eeprom_cam) is empty: no firmware image is" << ""
                                                 << "cam.eep";
        QTest::newRow("an empty file not sent") << kTk300 << 4 << "cam_cpu=V01.40" << false << "" << "cam_cpu" << "lens.bin"
                                                << "cam.eep";
    }

    void choose()
    {
        QFETCH(QByteArray, ini);
        QFETCH(int, model);
        QFETCH(QString, cameraChanges);
        QFETCH(bool, all);
        QFETCH(QString, only);
        QFETCH(QString, plan);
        QFETCH(QString, missing);
        QFETCH(QString, empty);
        QTemporaryDir tmp;
        QVERIFY(writeFolder(tmp.path(), ini, missing.split(u' ', Qt::SkipEmptyParts), empty.split(u' ', Qt::SkipEmptyParts)));
        FirmwareFolder folder;
        QString error;
        QVERIFY(folder.open(tmp.path(), &error));
        PlanChoice choice;
        choice.all = all;
        QVERIFY(parseOnlyKeys(only.isEmpty() ? QStringList() : QStringList{only}, &choice.only, &error));
        const CameraPlan result = planCamera(folder, camera(model, kSame, cameraChanges), choice);
        QCOMPARE(describe(result), plan);
        if (!result.valid) {
            QCOMPARE(result.message, fleetEndMessage(result.end));
            return;
        }
        // The run gets the very ticks the plan shows, with the folder and model.
        int ticked = 0;
        for (const Component& c : kComponents)
            ticked += (result.set.*c.field).Select == RMOCAM_TRUE ? 1 : 0;
        QCOMPARE(ticked, int(result.files.size()));
        QCOMPARE(result.set.Model, model);
        QCOMPARE(result.set.DirPath, QDir(tmp.path()).absolutePath());
        // Each file's copy, as the run will send it, with its size and digest for the report.
        for (const PlannedFile& f : result.files) {
            QVERIFY(f.copy && f.copy->bytes() == f.fileName.toLatin1());
            QCOMPARE(f.size, f.fileName.size());
            QCOMPARE(f.sha256, QString::fromLatin1(f.copy->sha256().toHex()));
        }
    }

    // A resumed update never sends what the camera already runs, even with --all, nor what
    // it took in the earlier run, whatever its versions say.
    void resumed_data()
    {
        QTest::addColumn<QString>("cameraChanges");  // over kSame
        QTest::addColumn<QString>("taken");          // components taken in the earlier run
        QTest::addColumn<QString>("plan");
        QTest::newRow("what differs, and what is unknown") << "cam_cpu=V01.40 lens_fpga=" << "" << "lens_fpga cam_cpu";
        QTest::newRow("nothing differs") << "" << "" << "up-to-date: the camera runs the folder's versions";
        QTest::newRow("an unreported component taken before") << "cam_cpu=V01.40 interface_eeprom=" << "interface_eeprom"
                                                              << "cam_cpu";
        QTest::newRow("taken before, though it reports another version") << "cam_cpu=V01.40 lens_fpga=V01.00" << "lens_fpga"
                                                                         << "cam_cpu";
        QTest::newRow("everything left was taken") << "interface_eeprom= lens_fpga=" << "interface_eeprom lens_fpga"
                                                   << "completed: the camera took every file asked for in the earlier run";
    }

    void resumed()
    {
        QFETCH(QString, cameraChanges);
        QFETCH(QString, taken);
        QFETCH(QString, plan);
        QTemporaryDir tmp;
        QVERIFY(writeFolder(tmp.path(), kTk300));
        FirmwareFolder folder;
        QString error;
        QVERIFY(folder.open(tmp.path(), &error));
        PlanChoice choice;
        choice.all = true;
        choice.skipCurrent = true;
        QVERIFY(parseOnlyKeys(taken.split(u' ', Qt::SkipEmptyParts), &choice.takenBefore, &error));
        QCOMPARE(describe(planCamera(folder, camera(4, kSame, cameraChanges), choice)), plan);
    }

    // Each camera version is compared with its own component's file.
    void versionFields_data()
    {
        QTest::addColumn<QString>("key");
        for (const Component& c : kComponents)
            QTest::newRow(c.key) << QString::fromLatin1(c.key);
    }

    void versionFields()
    {
        QFETCH(QString, key);
        QTemporaryDir tmp;
        QVERIFY(writeFolder(tmp.path(), kTk300));
        FirmwareFolder folder;
        QString error;
        QVERIFY(folder.open(tmp.path(), &error));
        const CameraPlan plan = planCamera(folder, camera(4, kSame, key + QStringLiteral("=V00.01")), PlanChoice());
        QCOMPARE(describe(plan), key);
        QCOMPARE(plan.files.front().cameraVersion, QStringLiteral("V00.01"));
    }

    void unreadableFolder_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("error");
        QTest::newRow("missing") << "missing" << "does not exist";
        QTest::newRow("a file") << "file" << "is not a folder";
        QTest::newRow("no list file") << "empty" << "has no verup_list.ini";
        QTest::newRow("list file is a fifo") << "fifo" << "verup_list.ini is not a regular file";
        QTest::newRow("list file is a folder") << "dir" << "verup_list.ini is not a regular file";
    }

    void unreadableFolder()
    {
        QFETCH(QString, setup);
        QFETCH(QString, error);
        QTemporaryDir tmp;
        QString path = tmp.path();
        if (setup == u"missing")
            path += QStringLiteral("/none");
        if (setup == u"file")
            QVERIFY(writeFile(path += QStringLiteral("/f"), "x"));
        if (setup == u"fifo")
            QCOMPARE(::mkfifo(QFile::encodeName(listFilePath(path)).constData(), 0600), 0);
        if (setup == u"dir")
            QVERIFY(QDir(path).mkdir(QLatin1String(kListFileName)));
        const FifoRelease release(QFile::encodeName(listFilePath(path)));
        FirmwareFolder folder;
        QString why;
        QVERIFY(!folder.open(path, &why));
        QCOMPARE(why, error);
    }

    // Cameras of one model share the folder's reading: the model's section is sought once.
    void readOncePerModel()
    {
        QTemporaryDir tmp;
        QVERIFY(writeFolder(tmp.path(), kTk300));
        FirmwareFolder folder;
        QString error;
        QVERIFY(folder.open(tmp.path(), &error));
        LogCapture log;
        QVERIFY(planCamera(folder, camera(4, kSame, QStringLiteral("cam_cpu=V01.00")), PlanChoice()).valid);
        QCOMPARE(describe(planCamera(folder, camera(4, kSame, QStringLiteral("servo_cpu=V01.00")), PlanChoice())),
                 QStringLiteral("servo_cpu"));
        QVERIFY(!planCamera(folder, camera(1, kSame, QString()), PlanChoice()).valid);
        QCOMPARE(log.count(QStringLiteral("■DEBUG■mw_SearchFileModel")), 2);
    }
};

QTEST_GUILESS_MAIN(TestFleetPlan)
#include "tst_fleetplan.moc"
