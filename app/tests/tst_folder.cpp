// Choosing the firmware folder through the real chooser: the model section, the grid it
// fills, and what a refused or cancelled choice leaves.
#include "app/mainwindow.h"

#include "firmware/listfile.h"
#include "tests/support/logcapture.h"
#include "tests/support/operator.h"

#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

namespace {

const char* const kRows[] = {"VERUP_CUP_CamMain", "VERUP_CPU_NetworkSoft", "VERUP_CPU_Servo",
                             "VERUP_CPU_Interface", "VERUP_FPGA_Front", "VERUP_FPGA_Backend",
                             "VERUP_FPGA_Lens", "VERUP_EEPROM_CamMain", "VERUP_EEPROM_Interface"};

const QByteArray kTk10 = "[TK10]\ncam_cpu=main.bin\nlens_fpga=lens.ffe\n[main.bin]\nversion=V01.20\nvupno=3\n"
                         "[lens.ffe]\nversion=V01.03\nvupno=1\n";

// The firmware grid as "row:name|version|tick", leaving out rows with no name, version or tick.
QString grid(MainWindow& w)
{
    QStringList out;
    for (int i = 0; i < 9; ++i) {
        const QString base = QLatin1String(kRows[i]);
        const QString row = w.findChild<QLabel*>(base + QLatin1String("Name"))->text() + QLatin1Char('|')
            + w.findChild<QLabel*>(base + QLatin1String("Ver"))->text() + QLatin1Char('|')
            + QString::number(w.findChild<QCheckBox*>(base + QLatin1String("_checkBox"))->isChecked());
        if (row != QLatin1String("||0"))
            out << QString::number(i) + QLatin1Char(':') + row;
    }
    return out.join(QLatin1Char(' '));
}

// Each box the operator closed, as "text|title|icon|buttons|parent".
QStringList boxes(const Operator& op)
{
    QStringList out;
    for (const ModalWatcher::Message& m : op.messages())
        out << QStringLiteral("%1|%2|%3|%4|%5").arg(m.text, m.title).arg(m.icon).arg(m.buttons).arg(m.parentName);
    return out;
}

QString box(const char* text)
{
    return QLatin1String(text) + QStringLiteral("||%1|%2|MainWindow").arg(QMessageBox::Information).arg(QMessageBox::Ok);
}

QString folderWith(QTemporaryDir& tmp, const QByteArray& ini)
{
    QFile f(listFilePath(tmp.path()));
    if (!ini.isNull() && (!f.open(QIODevice::WriteOnly) || f.write(ini) != ini.size()))
        qFatal("cannot write list file");
    return tmp.path();
}

QString folderField(MainWindow& w) { return child<QLineEdit>(w, "VerUpFileWriteSpace")->text(); }

} // namespace

class TestFolder : public QObject
{
    Q_OBJECT

private slots:
    void select_data();
    void select();
    void sequence_data();
    void sequence();
};

void TestFolder::select_data()
{
    QTest::addColumn<int>("qid");
    QTest::addColumn<int>("model");
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QString>("shown");  // the grid afterwards
    QTest::addColumn<int>("setModel");   // 0: refused
    QStringList cleared;
    for (int i = 0; i < 9; ++i)
        cleared << QString::number(i) + QStringLiteral(":----|----|0");
    const QString untouched = cleared.join(QLatin1Char(' '));
    // None of the named files exists in the folder: that is found out only when uploading.
    QTest::newRow("tk10") << 1 << 1 << kTk10 << "0:main.bin|V01.20|1 6:lens.ffe|V01.03|1" << 1;
    QTest::newRow("tkd7h keeps its own id") << 1 << 3 << QByteArray("[TK10]\ncam_cpu=t.bin\n") << "0:t.bin||1" << 3;
    QTest::newRow("empty cam_cpu") << 3 << 4 << QByteArray("[TK300]\ncam_cpu=\neeprom_cam=e.eep\n") << "7:e.eep||1" << 4;
    QTest::newRow("no camera") << 0 << 1 << kTk10 << untouched << 0;
    QTest::newRow("other model's folder") << 1 << 1 << QByteArray("[TK300]\ncam_cpu=x.bin\n") << untouched << 0;
    QTest::newRow("model not known yet") << 1 << 0 << kTk10 << untouched << 0;
    QTest::newRow("no list file") << 1 << 1 << QByteArray() << untouched << 0;
    QTest::newRow("garbage") << 1 << 1 << QByteArray("\x01\xff[\x80\n=\0\xfe]]\n", 12) << untouched << 0;
}

void TestFolder::select()
{
    QFETCH(int, qid);
    QFETCH(int, model);
    QFETCH(QByteArray, ini);
    QFETCH(QString, shown);
    QFETCH(int, setModel);
    MainWindow w;
    mw_Qid = qid;
    mw_CamInfo.ModelID = model;
    QTemporaryDir tmp;
    Operator op;
    op.folder = folderWith(tmp, ini);
    LogCapture log;
    child<QToolButton>(w, "VerUpFileButton")->click();
    QCOMPARE(grid(w), shown);
    QCOMPARE(mw_VupFileInfo.Model, setModel);
    const QString dir = qid ? tmp.path() : QString();
    QCOMPARE(mw_VupFileInfo.DirPath, dir);
    QCOMPARE(folderField(w), dir);
    QCOMPARE(op.choosers, qid ? QStringList{"Directory|" + QDir::currentPath() + "|1|MainWindow"} : QStringList());
    QCOMPARE(boxes(op), setModel ? QStringList() : QStringList{box(qid ? "File is NOT exist!" : "No Connect Camera")});
    if (qid)
        QVERIFY(log.containsInOrder({"■DEBUG■MW_selectDir()", "■DEBUG■mw_selectDir()", "■DEBUG■mw_SearchFileModel",
                                     QStringLiteral("■DEBUG■Err\n%1").arg(setModel ? 0 : 1)}));
    QCOMPARE(log.lines().filter(QStringLiteral(".Vupno")).size(), setModel ? 9 : 0);
}

void TestFolder::sequence_data()
{
    QTest::addColumn<QString>("steps");  // A, B: two TK10 folders, R: refused, C: cancelled
    QTest::addColumn<QString>("shown");  // the servo box is ticked by hand beforehand
    const QString a = QStringLiteral("0:main.bin|V01.20|1 2:||1 6:lens.ffe|V01.03|1");
    QTest::newRow("stale ticks stay") << "A B" << "0:b.bin|V01.50|1 2:||1 6:||1";
    QTest::newRow("same folder twice") << "A A" << a;
    QTest::newRow("refused keeps grid") << "A R" << a;
    QTest::newRow("refused then read") << "R B" << "0:b.bin|V01.50|1 2:||1";
    QTest::newRow("cancel keeps grid") << "A C" << a;
}

void TestFolder::sequence()
{
    QFETCH(QString, steps);
    QFETCH(QString, shown);
    MainWindow w;
    mw_Qid = CAM_QID_TK10;
    mw_CamInfo.ModelID = CAM_MODELID_QV_TK10;
    child<QCheckBox>(w, "VERUP_CPU_Servo_checkBox")->setChecked(true);
    QTemporaryDir a, b, r;
    const QMap<QString, QString> folders{{"A", folderWith(a, kTk10)},
                                         {"B", folderWith(b, "[TK10]\ncam_cpu=b.bin\n[b.bin]\nversion=V01.50\n")},
                                         {"R", folderWith(r, "[TK300]\ncam_cpu=x.bin\n")},
                                         {"C", QString()}};
    Operator op;
    LogCapture log;
    for (const QString& step : steps.split(QLatin1Char(' '))) {
        log.clear();
        op.folder = folders[step];
        child<QToolButton>(w, "VerUpFileButton")->click();
        QCOMPARE(mw_VupFileInfo.DirPath, folders[step]);  // the last choice shows, accepted or not
        QCOMPARE(folderField(w), folders[step]);
    }
    QCOMPARE(grid(w), shown);
    QCOMPARE(op.choosers.size(), 2);
    if (steps == QLatin1String("A B"))  // ticked, but no file and no upload order any more
        QCOMPARE(mw_VupFileInfo.lens_fpga.Vupno, 0);
    if (steps.endsWith(QLatin1Char('C')))  // a cancelled chooser reads nothing
        QVERIFY(!log.contains(QStringLiteral("■DEBUG■mw_SearchFileModel")));
    QCOMPARE(op.texts().size(), int(steps.count(QLatin1Char('R')) + steps.count(QLatin1Char('C'))));
}

QTEST_MAIN(TestFolder)
#include "tst_folder.moc"
