// Choosing the firmware folder through the real chooser: the model section, the grid it
// fills, and what a refused or cancelled choice leaves.
#include "app/mainwindow.h"
#include "firmware/listfile.h"
#include "tests/support/fiforelease.h"
#include "tests/support/logcapture.h"
#include "tests/support/operator.h"

#include <QToolButton>
#include <QtTest>

#include <memory>

#include <sys/stat.h>

namespace {

const QByteArray kTk10 = "[TK10]\ncam_cpu=main.bin\nlens_fpga=lens.ffe\n[main.bin]\nversion=V01.20\nvupno=3\n"
                         "[lens.ffe]\nversion=V01.03\nvupno=1\n";

// The firmware grid as "row:name|version|tick", leaving out rows with no name, version or tick.
QString grid(MainWindow& w)
{
    QStringList out;
    for (int i = 0; i < kComponentCount; ++i) {
        const QString base = QLatin1String(kComponents[size_t(i)].checkBox).chopped(9);  // less "_checkBox"
        const QString row = w.findChild<QLabel*>(base + "Name")->text() + u'|' + w.findChild<QLabel*>(base + "Ver")->text()
            + u'|' + QString::number(w.findChild<QCheckBox*>(base + "_checkBox")->isChecked());
        if (row != u"||0")
            out << QString::number(i) + u':' + row;
    }
    return out.join(u' ');
}

const QByteArray kFifo = "fifo";

// Writes `ini` as the folder's list file (none when null; a FIFO for kFifo) and has the
// operator pick the folder; an empty folder cancels the chooser.
void choose(MainWindow& w, Operator& op, const QString& folder, const QByteArray& ini)
{
    QFile f(listFilePath(folder));
    std::unique_ptr<FifoRelease> release;
    if (!folder.isEmpty() && ini == kFifo) {
        if (::mkfifo(QFile::encodeName(f.fileName()).constData(), 0600) != 0)
            qFatal("cannot make the FIFO");
        release = std::make_unique<FifoRelease>(QFile::encodeName(f.fileName()));
    } else if (!folder.isEmpty() && !ini.isNull() && (!f.open(QIODevice::WriteOnly) || f.write(ini) != ini.size())) {
        qFatal("cannot write list file");
    }
    f.close();
    op.folder = folder;
    child<QToolButton>(w, "VerUpFileButton")->click();
}

} // namespace

class TestFolder : public QObject
{
    Q_OBJECT

private slots:
    void select_data()
    {
        QTest::addColumn<int>("qid");
        QTest::addColumn<int>("model");
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<QString>("shown");  // the grid afterwards
        QTest::addColumn<int>("setModel");   // 0: refused
        QString untouched = QStringLiteral("0:----|----|0");
        for (int i = 1; i < 9; ++i)
            untouched += QStringLiteral(" %1:----|----|0").arg(i);
        // None of the named files exists in the folder: that is found out only when uploading.
        QTest::newRow("tk10") << 1 << 1 << kTk10 << "0:main.bin|V01.20|1 6:lens.ffe|V01.03|1" << 1;
        QTest::newRow("tkd7h keeps its own id") << 1 << 3 << QByteArray("[TK10]\ncam_cpu=t.bin\n") << "0:t.bin||1" << 3;
        QTest::newRow("no camera") << 0 << 1 << kTk10 << untouched << 0;
        QTest::newRow("model not known yet") << 1 << 0 << kTk10 << untouched << 0;
        QTest::newRow("no list file") << 1 << 1 << QByteArray() << untouched << 0;
        QTest::newRow("garbage") << 1 << 1 << QByteArray("\x01\xff[\x80\n=\0\xfe]]\n", 12) << untouched << 0;
        // A list file that is a FIFO would hold the reader until someone wrote to it.
        QTest::newRow("list file is a fifo") << 1 << 1 << kFifo << untouched << 0;
    }

    void select()
    {
        QFETCH(int, qid);
        QFETCH(int, model);
        QFETCH(QByteArray, ini);
        QFETCH(int, setModel);
        MainWindow w;
        mw_Qid = qid;
        mw_CamInfo.ModelID = model;
        QTemporaryDir tmp;
        Operator op;
        LogCapture log;
        QElapsedTimer clock;
        clock.start();
        choose(w, op, tmp.path(), ini);
        QVERIFY2(clock.elapsed() < 1500, "the list file held the reader");
        const QString dir = qid ? tmp.path() : QString();
        QTEST(grid(w), "shown");
        QCOMPARE(mw_VupFileInfo.Model, setModel);
        QCOMPARE(mw_VupFileInfo.DirPath, dir);
        QCOMPARE(child<QLineEdit>(w, "VerUpFileWriteSpace")->text(), dir);
        QCOMPARE(op.choosers, qid ? QStringList{"Directory|" + QDir::currentPath() + "|1|MainWindow"} : QStringList());
        QCOMPARE(op.texts(), setModel ? QStringList() : QStringList{qid ? "File is NOT exist!" : "No Connect Camera"});
        for (const ModalWatcher::Message& m : op.messages())
            QVERIFY(m.title.isEmpty() && m.icon == QMessageBox::Information && m.buttons == QMessageBox::Ok
                    && m.parentName == u"MainWindow");
        if (qid)
            QVERIFY(log.containsInOrder({"■DEBUG■MW_selectDir()", "■DEBUG■mw_selectDir()", "■DEBUG■mw_SearchFileModel",
                                         QStringLiteral("■DEBUG■Err\n%1").arg(setModel ? 0 : 1)}));
        QCOMPARE(log.lines().filter(QStringLiteral(".Vupno")).size(), setModel ? 9 : 0);
    }

    void sequence_data()
    {
        QTest::addColumn<QString>("steps");  // A, B: two TK10 folders, R: refused, C: cancelled
        QTest::addColumn<QString>("shown");  // the servo box is ticked by hand beforehand
        const QString a = QStringLiteral("0:main.bin|V01.20|1 2:||1 6:lens.ffe|V01.03|1");
        QTest::newRow("stale ticks stay") << "A B" << "0:b.bin|V01.50|1 2:||1 6:||1";
        QTest::newRow("refused keeps grid") << "A R" << a;
        QTest::newRow("refused then read") << "R B" << "0:b.bin|V01.50|1 2:||1";
        QTest::newRow("cancel keeps grid") << "A C" << a;
    }

    void sequence()
    {
        QFETCH(QString, steps);
        MainWindow w;
        mw_Qid = CAM_QID_TK10;
        mw_CamInfo.ModelID = CAM_MODELID_QV_TK10;
        child<QCheckBox>(w, "VERUP_CPU_Servo_checkBox")->setChecked(true);
        const QMap<QString, QByteArray> lists{
            {"A", kTk10}, {"B", "[TK10]\ncam_cpu=b.bin\n[b.bin]\nversion=V01.50\n"}, {"R", "[TK300]\ncam_cpu=x.bin\n"}};
        QTemporaryDir dirs[2];
        Operator op;
        LogCapture log;
        for (int i = 0; i < 2; ++i) {
            const QString step = steps.section(u' ', i, i);
            const QString folder = step == u"C" ? QString() : dirs[i].path();
            log.clear();
            choose(w, op, folder, lists[step]);
            QCOMPARE(mw_VupFileInfo.DirPath, folder);  // the last choice shows, accepted or not
            QCOMPARE(child<QLineEdit>(w, "VerUpFileWriteSpace")->text(), folder);
        }
        QTEST(grid(w), "shown");
        QCOMPARE(op.choosers.size(), 2);
        if (steps == u"A B")  // ticked, but no file and no upload order any more
            QCOMPARE(mw_VupFileInfo.lens_fpga.Vupno, 0);
        if (steps.endsWith(u'C'))  // a cancelled chooser reads nothing
            QVERIFY(!log.contains(QStringLiteral("■DEBUG■mw_SearchFileModel")));
        QCOMPARE(op.texts().size(), int(steps.count(u'R') + steps.count(u'C')));
    }
};

QTEST_MAIN(TestFolder)
#include "tst_folder.moc"
