#include "camera/caminfo.h"
#include "sim/camerasim.h"
#include "sim/samplefolder.h"
#include "sim/tests/simclient.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <map>
#include <set>

namespace {

// The tool's compatibility ranges, in key order cam_cpu, network_cpu, servo_cpu,
// interface_cpu, front_fpga, backend_fpga, interface_eeprom; "" is not tested.
const char* const kRanges[12][7] = {
    {"V01.00-V01.99", "V01.00-V01.99", "V01.00-V01.99", "", "V01.00-V01.99", "V01.00-V01.29", "V03.00-V03.99"},
    {"V02.00-V02.99", "", "V01.00-V01.99", "", "V01.10-V01.29", "V01.30-V01.39", ""},
    {"V02.00-V02.99", "", "V01.00-V01.99", "", "V01.10-V01.29", "V01.30-V01.39", ""},
    {"V01.00-V01.99", "V02.00-V02.99", "V01.00-V01.99", "V01.00-V01.99", "", "", ""},
    {"V03.00-V03.49", "V04.00-V04.99", "V01.00-V01.99", "", "V01.00-V02.99", "V01.30-V01.49", "V03.00-V03.99"},
    {"V03.00-V03.49", "V04.00-V04.99", "V01.00-V01.99", "", "V01.00-V02.99", "V01.50-V01.99", "V03.00-V03.99"},
    {"V03.50-V03.99", "V05.00-V05.99", "V01.00-V01.99", "", "V03.00-V04.99", "V01.30-V01.49", "V03.00-V03.99"},
    {"V03.50-V03.99", "V05.00-V05.99", "V01.00-V01.99", "", "V03.00-V04.99", "V01.50-V01.99", "V03.00-V03.99"},
    {"V04.00|V04.02-V04.49", "V06.00-V06.99", "V01.00-V01.99", "", "V01.00-V02.99", "V01.30-V01.49", "V04.00-V04.99"},
    {"V04.00|V04.02-V04.49", "V06.00-V06.99", "V01.00-V01.99", "", "V01.00-V02.99", "V01.50-V01.99", "V04.00-V04.99"},
    {"V04.01|V04.02-V04.99", "V06.00-V06.99", "V01.00-V01.99", "", "V01.00-V02.99", "V01.30-V01.49", "V04.00-V04.99"},
    {"V04.01|V04.50-V04.99", "V07.00-V07.99", "V01.00-V01.99", "", "V02.00-V03.99", "V01.50-V01.99", "V04.00-V04.99"},
};
const QStringList kRangeKeys{"cam_cpu", "network_cpu", "servo_cpu", "interface_cpu", "front_fpga", "backend_fpga",
                             "interface_eeprom"};
const QStringList kAllKeys = kRangeKeys + QStringList{"lens_fpga", "eeprom_cam"};

bool inRanges(const QString& v, const QString& ranges)
{
    if (ranges.isEmpty())
        return true;
    for (const QString& r : ranges.split(QLatin1Char('|'))) {
        const QStringList ends = r.split(QLatin1Char('-'));
        if (ends.first() <= v && v <= ends.last())
            return true;
    }
    return false;
}

int componentOfKey(const QString& key)
{
    return key == QLatin1String("eeprom_cam") ? SIM_CAM_EEPROM : simComponentFromName(key.toStdString());
}

struct ListedFile {
    QString key;
    QString name;
    QString version;
    int vupno = 0;
};

// The model's files as the tool would read them from the list file, in upload order.
QList<ListedFile> readSection(const QString& dir, int model)
{
    QSettings ini(dir + QStringLiteral("/verup_list.ini"), QSettings::IniFormat);
    QList<ListedFile> files;
    ini.beginGroup(QString::fromLatin1(sampleSectionName(model)));
    for (const QString& key : ini.childKeys())
        files.append({key, ini.value(key).toString(), {}, 0});
    ini.endGroup();
    for (ListedFile& f : files) {
        ini.beginGroup(f.name);
        f.version = ini.value(QStringLiteral("version")).toString();
        f.vupno = ini.value(QStringLiteral("vupno")).toString().toInt();
        ini.endGroup();
    }
    std::stable_sort(files.begin(), files.end(), [](const ListedFile& a, const ListedFile& b) { return a.vupno < b.vupno; });
    return files;
}

} // namespace

class TestSampleFolder : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void shippedFolderIsCurrent();
    void modelSection_data();
    void modelSection();
    void updateKeepsModel_data();
    void updateKeepsModel();

private:
    QTemporaryDir dir;
};

void TestSampleFolder::initTestCase()
{
    QVERIFY(dir.isValid());
    std::string error;
    QVERIFY2(writeSampleFolder(dir.path().toStdString(), {}, &error), error.c_str());
}

// The folder under samples/ is what the generator writes today.
void TestSampleFolder::shippedFolderIsCurrent()
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

void TestSampleFolder::modelSection_data()
{
    QTest::addColumn<int>("model");
    for (int id = kFirstModelId; id <= kLastModelId; ++id)
        QTest::newRow(sampleSectionName(id)) << id;
}

// Every file suits the model, carries its list-file version in its first line, and
// differs from what the simulated camera starts with.
void TestSampleFolder::modelSection()
{
    QFETCH(int, model);
    const QList<ListedFile> files = readSection(dir.path(), model);
    QVERIFY(std::any_of(files.begin(), files.end(), [](const ListedFile& f) { return f.key == QLatin1String("cam_cpu"); }));
    const QStringList extensions = isTkd7Family(model)
        ? QStringList{"bin", "img"}
        : QStringList{"bin", "img", "eep", "sif", "scm", "spt", "snw", "ffe", "fbe"};
    std::set<int> orders;
    for (const ListedFile& f : files) {
        QVERIFY2(kAllKeys.contains(f.key), qPrintable(f.key));
        QVERIFY2(extensions.contains(f.name.right(3)), qPrintable(f.name));
        QVERIFY(f.vupno > 0);
        QVERIFY(orders.insert(f.vupno).second);
        const int range = kRangeKeys.indexOf(f.key);
        if (range >= 0)
            QVERIFY2(inRanges(f.version, QString::fromLatin1(kRanges[model - 1][range])), qPrintable(f.name));
        const int component = componentOfKey(f.key);
        QVERIFY(f.version.toStdString() != simProfile(model)->versions[std::size_t(component)]);

        QFile file(dir.filePath(f.name));
        QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(f.name));
        QCOMPARE(file.readLine().toStdString(), simFirmwareHeader(simComponentName(component), f.version.toStdString()));
    }
}

void TestSampleFolder::updateKeepsModel_data()
{
    modelSection_data();
}

// Uploading the whole set the way the tool would leaves the camera reporting the new
// versions and still identifying as the same model.
void TestSampleFolder::updateKeepsModel()
{
    QFETCH(int, model);
    CameraSim sim;
    QVERIFY(sim.setModel(model));
    const int port = sim.start();
    QVERIFY(port > 0);
    QNetworkAccessManager nam;
    const QByteArray auth = QByteArray::fromStdString(simBasicAuthorization("admin", "password"));

    const QList<ListedFile> files = readSection(dir.path(), model);
    for (const ListedFile& f : files) {
        QFile file(dir.filePath(f.name));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const HttpResult r = postFirmware(nam, port, model, f.name.toLatin1(), file.readAll(), auth);
        QCOMPARE(r.status, 200);
        QVERIFY(r.body.contains(isTkd7Family(model) ? "Currently resetting" : "cgi-bin"));
        QVERIFY(sim.isRestarting());
        sim.finishRestartNow();
    }

    QStringList versions;
    for (int n = 0; n < kSimComponentCount; ++n) {
        const HttpResult r = httpGet(nam, port, "/cgi-bin/qv_ptz?cmd=%23QSV" + QByteArray::number(n) + "&res=1");
        versions << QString::fromLatin1(r.body).right(10).left(6);
    }
    for (const ListedFile& f : files)
        QCOMPARE(versions[componentOfKey(f.key)], f.version);
    const QByteArray qid = httpGet(nam, port, "/cgi-bin/qv_cam?cmd=QID&res=1").body;
    const int qidCode = qid == "OID:QV-TK10" ? CAM_QID_TK10 : qid == "OID:QV-TK20" ? CAM_QID_TK20 : CAM_QID_TK300;
    QCOMPARE(identifyModel(qidCode, versions[SIM_CAM_CPU], versions[SIM_BACKEND_FPGA]).modelId, model);
}

QTEST_GUILESS_MAIN(TestSampleFolder)
#include "tst_samplefolder.moc"
