#include "firmware/listfile.h"

#include "camera/caminfo.h"
#include "tests/support/logcapture.h"

#include <QElapsedTimer>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// A reader on a list file in a fresh folder (null text: the folder has no list file).
struct ListFile {
    QTemporaryDir tmp;
    std::unique_ptr<QSettings> settings;
    explicit ListFile(const QByteArray& ini)
    {
        QFile f(listFilePath(tmp.path()));
        if (!ini.isNull() && (!f.open(QIODevice::WriteOnly) || f.write(ini) != ini.size() || !f.flush()))
            qFatal("cannot write list file");
        settings = std::make_unique<QSettings>(listFilePath(tmp.path()), QSettings::IniFormat);
    }
};

// The components that hold anything, as "member=name|version|vupno", in record order.
QString describe(const vup_file_info& set)
{
    QStringList out;
    for (const Component& c : kComponents) {
        const file_info& f = set.*c.field;
        if (!f.FileName.isEmpty() || !f.Version.isEmpty() || f.Vupno != 0)
            out << QStringLiteral("%1=%2|%3|%4").arg(QLatin1String(c.member), f.FileName, f.Version).arg(f.Vupno);
    }
    return out.join(QLatin1Char(' '));
}

const QByteArray kExample = "[TK10]\ncam_cpu=main_v0120.bin\nnetwork_cpu=net_v0210.img\neeprom_cam=cam_v0103.eep\n"
                            "[main_v0120.bin]\nversion=V01.20\nvupno=3\n[net_v0210.img]\nversion=V02.10\nvupno=1\n"
                            "[cam_v0103.eep]\nversion=V01.03\nvupno=2\n";

} // namespace

class TestListFile : public QObject
{
    Q_OBJECT

private slots:
    void detect_data()
    {
        QTest::addColumn<int>("model");
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<QString>("section");   // empty: refused
        QTest::addColumn<QStringList>("trace");  // after the two opening lines; not checked when empty
        const QString tk10Ok = QStringLiteral("■DEBUG■ TK10FileOpenOK");
        QTest::newRow("tk10 picks TKD7_S before TKD7_H") << 1 << QByteArray("[TKD7_H]\ncam_cpu=h\n[TKD7_S]\ncam_cpu=s\n") << "TKD7_S"
            << QStringList{"\"TK10\"", "0", "\"TK10\"", "\"TKD7_S\"", "FILEOK", tk10Ok};
        QTest::newRow("tk10 prefers its own") << 1 << QByteArray("[TKD7_S]\ncam_cpu=s\n[TK10]\ncam_cpu=t\n") << "TK10" << QStringList{"\"TK10\"", "FILEOK", tk10Ok};
        QTest::newRow("tk10 refused") << 1 << QByteArray("[TK10]\ncam_cpu=NONE\n") << ""
            << QStringList{"\"TK10\"", "0", "\"TK10\"", "\"TKD7_S\"", "1", "\"TKD7_S\"", "\"TKD7_H\"", "2", "\"TKD7_H\""};
        QTest::newRow("tkd7s refuses lone TKD7_H") << 2 << QByteArray("[TKD7_H]\ncam_cpu=h\n") << "" << QStringList{};
        QTest::newRow("tkd7s own before TK10") << 2 << QByteArray("[TK10]\ncam_cpu=t\n[TKD7_S]\ncam_cpu=s\n") << "TKD7_S"
            << QStringList{"■DEBUG■ CAM_MODELID_QV_TKD7_S FileOpenOK"};
        QTest::newRow("tkd7h accepts TK10") << 3 << QByteArray("[TK10]\ncam_cpu=t\n") << "TK10" << QStringList{"■DEBUG■ CAM_MODELID_QV_TKD7_H FileOpenOK"};
        QTest::newRow("tkd7h refuses TKD7_S") << 3 << QByteArray("[TKD7_S]\ncam_cpu=s\n") << "" << QStringList{};
        QTest::newRow("NONE refused") << 4 << QByteArray("[TK300]\ncam_cpu=NONE\n") << "" << QStringList{};
        QTest::newRow("lower-case none accepted") << 4 << QByteArray("[TK300]\ncam_cpu=none\n") << "TK300" << QStringList{};
        QTest::newRow("empty accepted") << 4 << QByteArray("[TK300]\ncam_cpu=\n") << "TK300" << QStringList{};
        QTest::newRow("missing key refused") << 4 << QByteArray("[TK300]\nnetwork_cpu=n\n") << "" << QStringList{};
        QTest::newRow("key case matters") << 4 << QByteArray("[TK300]\nCAM_CPU=c\n") << "" << QStringList{};
        QTest::newRow("top level does not count") << 4 << QByteArray("cam_cpu=c\n[TK300]\n") << "" << QStringList{};
        QTest::newRow("identifier 0") << 0 << QByteArray("[TK10]\ncam_cpu=t\n") << "" << QStringList{"■DEBUG■ ERR_RTN_NG1"};
        QTest::newRow("identifier 13") << 13 << QByteArray("[TK10]\ncam_cpu=t\n") << "" << QStringList{"■DEBUG■ ERR_RTN_NG1"};
        QTest::newRow("old tk15 s line") << 9 << QByteArray("[TK15S_OLDFPGA]\ncam_cpu=x\n") << "TK15S_OLDFPGA" << QStringList{"■DEBUG■ OLD_TK15_S FileOpenOK"};
        // Bad list files end in a refusal, quickly.
        QByteArray garbage(256 * 1024, '\0');
        quint32 x = 12345;
        for (char& c : garbage)
            c = char((x = x * 1103515245u + 12345u) >> 24);
        QTest::newRow("missing list file") << 1 << QByteArray() << "" << QStringList{};
        QTest::newRow("empty list file") << 1 << QByteArray("") << "" << QStringList{};
        QTest::newRow("binary garbage") << 1 << garbage << "" << QStringList{};
        QTest::newRow("nul in header") << 1 << QByteArray("[TK10\0]\ncam_cpu=a.bin\n", 22) << "" << QStringList{};
        QTest::newRow("long line without equals") << 1 << "[TK10]\n" + QByteArray(4 << 20, 'k') << "" << QStringList{};
        QTest::newRow("long value") << 1 << "[TK10]\ncam_cpu=" + QByteArray(4 << 20, 'a') + "\n" << "TK10" << QStringList{};
        // TK20/TK15: variant and FPGA generation must both match; no section stands in for another.
        const char* own[] = {"TK20S_OLDFPGA", "TK20H_OLDFPGA", "TK20S_NEWFPGA", "TK20H_NEWFPGA",
                             "TK15S_OLDFPGA", "TK15H_OLDFPGA", "TK15S_NEWFPGA", "TK15H_NEWFPGA"};
        for (int i = 0; i < 8; ++i) {
            QByteArray others;
            for (int j = 0; j < 8; ++j)
                others += j == i ? QByteArray() : QByteArray("[") + own[j] + "]\ncam_cpu=x\n";
            QTest::addRow("model %d own", i + 5) << i + 5 << QByteArray("[") + own[i] + "]\ncam_cpu=x\n" << own[i] << QStringList{};
            QTest::addRow("model %d others", i + 5) << i + 5 << others << "" << QStringList{};
        }
    }

    void detect()
    {
        QFETCH(int, model);
        QFETCH(QByteArray, ini);
        QFETCH(QString, section);
        QFETCH(QStringList, trace);
        QElapsedTimer clock;
        clock.start();
        ListFile list(ini);
        QString accepted;
        LogCapture log;
        QCOMPARE(searchModelSection(list.settings.get(), model, &accepted), section.isEmpty() ? 1 : 0);
        QCOMPARE(accepted, section);
        QCOMPARE(list.settings->group(), section);  // left inside the winner, at the top level on refusal
        if (!trace.isEmpty())
            QCOMPARE(log.lines(), QStringList({"■DEBUG■mw_SearchFileModel", QString::number(model)}) + trace);
        QVERIFY(clock.elapsed() < 10000);
        QCOMPARE(searchModelSection(nullptr, model), 1);  // no reader: nothing to accept, and no crash
    }

    void read_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<QString>("read");
        const QString example = QStringLiteral("cam_cpu=main_v0120.bin|V01.20|3 network_cpu=net_v0210.img|V02.10|1 "
                                               "cam_eeprom=cam_v0103.eep|V01.03|2");
        QTest::newRow("example") << kExample << example;
        QTest::newRow("crlf and bom") << "\xef\xbb\xbf" + QByteArray(kExample).replace("\n", "\r\n") << example;
        QTest::newRow("eeprom key, not member name") << QByteArray("[TK10]\ncam_cpu=\ncam_eeprom=a\neeprom_cam=b\n[b]\nvupno=4\n") << "cam_eeprom=b||4";
        QTest::newRow("only the accepted section") << QByteArray("[TK10]\ncam_cpu=NONE\nservo_cpu=t\n[TKD7_S]\ncam_cpu=s\n") << "cam_cpu=s||0";
        QTest::newRow("vupno forms") << QByteArray("[TK10]\ncam_cpu=a\nnetwork_cpu=b\nservo_cpu=c\nfront_fpga=d\ninterface_cpu=e\n"
                                                   "backend_fpga=f\nlens_fpga=g\neeprom_cam=h\n[a]\nvupno=007\n[b]\nvupno=x1\n[c]\nvupno=-2\n"
                                                   "[d]\nversion=V01.00\n[e]\nvupno=2147483648\n[f]\nvupno=1.5\n[g]\nvupno=010\n[h]\nvupno=08\n")
                                     << "cam_cpu=a||7 network_cpu=b||0 servo_cpu=c||-2 interface_cpu=e||0 front_fpga=d|V01.00|0 "
                                        "backend_fpga=f||0 lens_fpga=g||10 cam_eeprom=h||8";
        // A component without a file enters no section: it reads the top level's keys.
        QTest::newRow("no file reads the top level")
            << QByteArray("version=V09.99\nvupno=5\n[TK10]\ncam_cpu=a\nlens_fpga=/\n[a]\nversion=V01.00\nvupno=1\n")
            << "cam_cpu=a|V01.00|1 network_cpu=|V09.99|5 servo_cpu=|V09.99|5 interface_cpu=|V09.99|5 front_fpga=|V09.99|5 "
               "backend_fpga=|V09.99|5 lens_fpga=/|V09.99|5 cam_eeprom=|V09.99|5 interface_eeprom=|V09.99|5";
        QTest::newRow("no file, empty top level") << QByteArray("[TK10]\ncam_cpu=a\n[a]\nvupno=2\n") << "cam_cpu=a||2";
        QTest::newRow("named file without section") << QByteArray("[TK10]\ncam_cpu=ghost.bin\n") << "cam_cpu=ghost.bin||0";
        // QSettings splits an unquoted value at commas; the name is read as written.
        QTest::newRow("comma in a name") << QByteArray("[TK10]\ncam_cpu=a,b\nservo_cpu=\"c, d\"\n[a,b]\nvupno=1\n[c, d]\nvupno=2\n") << "cam_cpu=a,b||1 servo_cpu=c, d||2";
        QTest::newRow("percent in a name") << QByteArray("[TK10]\ncam_cpu=f%41\n[f%41]\nvupno=9\n[f%2541]\nvupno=3\n") << "cam_cpu=f%41||3";
        QTest::newRow("shared file section") << QByteArray("[TK10]\ncam_cpu=x\nfront_fpga=x\n[x]\nversion=V01.01\nvupno=2\n") << "cam_cpu=x|V01.01|2 front_fpga=x|V01.01|2";
    }

    void read()
    {
        QFETCH(QByteArray, ini);
        QFETCH(QString, read);
        ListFile list(ini);
        QCOMPARE(searchModelSection(list.settings.get(), 1), 0);
        vup_file_info set;
        set.DirPath = QStringLiteral("/keep");
        for (file_info* f : {&set.cam_cpu, &set.lens_fpga, &set.interface_eeprom})
            *f = {QStringLiteral("old.bin"), QStringLiteral("V00.01"), 8, RMOCAM_TRUE};
        LogCapture log;
        readComponentFiles(list.settings.get(), &set);
        QCOMPARE(describe(set), read);
        QCOMPARE(list.settings->group(), QString());
        QVERIFY(set.DirPath == QStringLiteral("/keep") && set.lens_fpga.Select == RMOCAM_TRUE);  // not the reader's
        QCOMPARE(log.lines().size(), 18);
        QCOMPARE(log.lines().mid(14, 2), QStringList({"■DEBUG■mw_VupFileInfo.cam_eeprom.Vupno", QString::number(set.cam_eeprom.Vupno)}));
    }

    void folderFileName_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("inside");
        QTest::newRow("plain") << "main.bin" << true;
        QTest::newRow("sub-folder") << "sub/main.bin" << true;
        QTest::newRow("dots in a name") << "..main.bin" << true;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("absolute") << "/etc/passwd" << false;
        QTest::newRow("parent") << "../main.bin" << false;
        QTest::newRow("parent inside") << "sub/../../main.bin" << false;
        QTest::newRow("parent last") << "sub/.." << false;
        QTest::newRow("parent, backslashes") << "..\\main.bin" << false;
    }

    void folderFileName()
    {
        QFETCH(QString, name);
        QFETCH(bool, inside);
        QCOMPARE(isFolderFileName(name), inside);
    }

    // The checker prints a model's own section beside it, so a model is named by it too.
    void ownSectionNamesTheModel()
    {
        for (int id = kFirstModelId; id <= kLastModelId; ++id)
            QCOMPARE(modelIdFromName(modelSections(id).candidates.value(0)), id);
    }
};

QTEST_GUILESS_MAIN(TestListFile)
#include "tst_listfile.moc"
