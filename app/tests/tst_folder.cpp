#include "app/mainwindow.h"

#include "firmware/listfile.h"
#include "tests/support/logcapture.h"
#include "tests/support/modalwatcher.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
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

QString folderField(MainWindow& w) { return w.findChild<QLineEdit*>(QStringLiteral("VerUpFileWriteSpace"))->text(); }

// The operator: answers each folder chooser with the next queued path (empty: cancel),
// and closes each message box with OK, noting "text|title|icon|buttons|parent".
struct Operator {
    ModalWatcher watcher;
    QTimer boxCloser;
    QStringList answers, boxes, choosers;  // choosers: "caption|start folder|folders only|parent"

    explicit Operator(MainWindow* w)
    {
        watcher.autoClose = false;
        watcher.onDialog = [this, w](QWidget* modal) {
            auto* chooser = qobject_cast<QFileDialog*>(modal);
            if (!chooser || answers.isEmpty()) {
                modal->close();
                return true;
            }
            choosers << QStringLiteral("%1|%2|%3|%4").arg(chooser->windowTitle(), chooser->directory().absolutePath())
                            .arg(chooser->testOption(QFileDialog::ShowDirsOnly) && chooser->fileMode() == QFileDialog::Directory)
                            .arg(chooser->parentWidget() == w);
            const QString path = answers.takeFirst();
            chooser->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(path);
            path.isEmpty() ? chooser->reject() : static_cast<QDialog*>(chooser)->accept();
            return true;
        };
        QObject::connect(&boxCloser, &QTimer::timeout, [this, w] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                boxes << QStringLiteral("%1|%2|%3|%4|%5").arg(box->text(), box->windowTitle()).arg(box->icon())
                             .arg(box->standardButtons()).arg(box->parentWidget() == w);
                box->accept();
            }
        });
        boxCloser.start(5);
    }
};

QString box(const char* text) { return QLatin1String(text) + QStringLiteral("||%1|%2|1").arg(QMessageBox::Information).arg(QMessageBox::Ok); }

QString folderWith(QTemporaryDir& tmp, const QByteArray& ini)
{
    QFile f(listFilePath(tmp.path()));
    if (!ini.isNull() && (!f.open(QIODevice::WriteOnly) || f.write(ini) != ini.size()))
        qFatal("cannot write list file");
    return tmp.path();
}

void pressFolderButton(MainWindow& w) { w.findChild<QToolButton*>(QStringLiteral("VerUpFileButton"))->click(); }

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
    Operator op(&w);
    op.answers << folderWith(tmp, ini);
    LogCapture log;
    pressFolderButton(w);
    QCOMPARE(grid(w), shown);
    QCOMPARE(mw_VupFileInfo.Model, setModel);
    const QString dir = qid ? tmp.path() : QString();
    QCOMPARE(mw_VupFileInfo.DirPath, dir);
    QCOMPARE(folderField(w), dir);
    QCOMPARE(op.choosers, qid ? QStringList{"Directory|" + QDir::currentPath() + "|1|1"} : QStringList());
    QCOMPARE(op.boxes, setModel ? QStringList() : QStringList{box(qid ? "File is NOT exist!" : "No Connect Camera")});
    if (qid)
        QVERIFY(log.containsInOrder({"■DEBUG■MW_selectDir()", "■DEBUG■mw_selectDir()", "■DEBUG■mw_SearchFileModel",
                                     "■DEBUG■Err", setModel ? "0" : "1"}));
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
    w.findChild<QCheckBox*>(QStringLiteral("VERUP_CPU_Servo_checkBox"))->setChecked(true);
    QTemporaryDir a, b, r;
    const QMap<QString, QString> folders{{"A", folderWith(a, kTk10)}, {"B", folderWith(b, "[TK10]\ncam_cpu=b.bin\n[b.bin]\nversion=V01.50\n")},
                                         {"R", folderWith(r, "[TK300]\ncam_cpu=x.bin\n")}, {"C", QString()}};
    Operator op(&w);
    LogCapture log;
    for (const QString& step : steps.split(QLatin1Char(' '))) {
        log.clear();
        op.answers << folders[step];
        pressFolderButton(w);
        QCOMPARE(mw_VupFileInfo.DirPath, folders[step]);  // the last choice shows, accepted or not
        QCOMPARE(folderField(w), folders[step]);
    }
    QCOMPARE(grid(w), shown);
    QCOMPARE(op.choosers.size(), 2);
    if (steps == QLatin1String("A B"))  // ticked, but no file and no upload order any more
        QCOMPARE(mw_VupFileInfo.lens_fpga.Vupno, 0);
    if (steps.endsWith(QLatin1Char('C')))  // a cancelled chooser reads nothing
        QVERIFY(!log.contains(QStringLiteral("■DEBUG■mw_SearchFileModel")));
    QCOMPARE(op.boxes.size(), int(steps.count(QLatin1Char('R')) + steps.count(QLatin1Char('C'))));
}

QTEST_MAIN(TestFolder)
#include "tst_folder.moc"
