// Whole update runs against the in-process simulated camera. Long waits are driven by
// calling the timer slots: the dialog's own ticks are set far beyond any test's length.
// Ends that app/tests/tst_faults.cpp provokes through the real windows are not repeated.
#include "camera/caminfo.h"
#include "firmware/sha256sums.h"
#include "sim/camerasim.h"
#include "sim/tests/simclient.h"
#include "tests/support/logcapture.h"
#include "tests/support/modalwatcher.h"
#include "tests/support/runrecords.h"
#include "update/dialogprogressbar.h"
#include "update/firmwarefiles.h"
#include "update/updatelock.h"

#include <QCryptographicHash>
#include <QLabel>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

const QString kDone = QStringLiteral("Process has been completed successfully.");
const QString kStopQuestion =
    QStringLiteral("The camera has the firmware file and may still be writing it. Stop watching this update?");
const QString kCameraHeld = QStringLiteral("This camera is being updated by another Kelvora process.");

// The content is written to the folder; a null array leaves the file out. A member of no
// component only writes its file (a SHA256SUMS).
struct PlannedFile { const char* member; const char* name; QByteArray content; int vupno; };

QByteArray fw(const char* component, const char* version)
{
    return QByteArray("KELVORA-SIM-FW component=") + component + " version=" + version + "\nbody\r\n\0\xff--x";
}

// A SHA256SUMS line for `name` with the digest of `content`.
QByteArray sum(const QByteArray& content, const char* name) { return sumsLine(QCryptographicHash::hash(content, QCryptographicHash::Sha256), name); }

void invoke(DialogProgressBar& d, const char* slot) { QMetaObject::invokeMethod(&d, slot, Qt::DirectConnection); }
QTimer* timer(DialogProgressBar& d, const char* name) { return d.findChild<QTimer*>(QLatin1String(name)); }

bool waitFor(const std::function<bool()>& condition, int ms = 5000) { return QTest::qWaitFor(condition, ms); }

// The operator's caller: start, and run the dialog modally only when the start says so.
// The driver runs inside the modal loop; the guard ends a loop that nothing closes.
struct Outcome { int start = -1; bool hung = false; };

Outcome runAsCaller(DialogProgressBar& d, const vup_file_info& set, const std::function<void()>& driver)
{
    Outcome o;
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, &d, [&] { o.hung = true; d.done(QDialog::Rejected); });
    if ((o.start = d.DIAPRO_StartVerUp(set)) == 0) {
        guard.start(20000);
        QTimer::singleShot(0, &d, driver);
        d.exec();
    }
    return o;
}

// Lets each file be uploaded and ticks the reset wait until the camera is back, to the end.
void driveToEnd(DialogProgressBar& d)
{
    for (int file = 0; file < 10 && d.isRunInProgress(); ++file) {
        if (!waitFor([&] { return DiaPro_mode == 1 || !d.isRunInProgress(); }))
            return;
        for (int tick = 0; tick < 200 && d.isRunInProgress() && DiaPro_mode != 0; ++tick) {
            invoke(d, "DIAPRO_timeout2");
            if (!waitFor([&] { return DiaPro_mode != 2 || !d.isRunInProgress(); }))
                return;
            QTest::qWait(5);
        }
    }
}

// After every end: nothing runs, and the run's process-wide records are empty.
void verifyEnded(DialogProgressBar& d)
{
    QVERIFY(!d.isRunInProgress() && !d.isVisible());
    QVERIFY(!timer(d, "diapro_Timer1")->isActive() && !timer(d, "diapro_Timer2")->isActive());
    QVERIFY(runRecordsEmpty());
}

struct WireCase {
    int model;
    QString subdir, fileName;
    QByteArray content;
    ToolForm form;
    QByteArray code;        // type code, for the TK15/TK20 form
    QByteArray nameSuffix;  // the part's file name after the temporary folder's
    int fixed;              // body size beyond file and name
    bool taken;             // the camera refuses an empty type code
};

struct RunCase {
    int model;
    QList<PlannedFile> files;
    int start;  // what DIAPRO_StartVerUp returns
    QString message;
    bool dialogBehindMessage;
    QStringList lines;  // in this order
    int uploads;
    bool resetWait;
    const char* changed = nullptr;  // rewritten once the camera holds the first file
};

// Where the camera locks are kept for a row, and who else holds one.
struct LockCase {
    enum Folder { Runtime, NoFolder, Unmakeable };
    Folder folder;
    const char* held;    // the camera another process updates; "sim": the simulated one; nullptr: none
    const char* camera;  // the run's camera address; nullptr: the simulated one's
    bool refused;
    const char* line;    // the trace's word on the lock
};

// Environment variables put back as they were.
class SavedEnvironment
{
public:
    explicit SavedEnvironment(const QList<QByteArray>& names)
    {
        for (const QByteArray& name : names)
            m_saved.append({name, qEnvironmentVariableIsSet(name.constData()), qgetenv(name.constData())});
    }
    ~SavedEnvironment()
    {
        for (const Saved& s : m_saved)
            s.set ? qputenv(s.name.constData(), s.value) : qunsetenv(s.name.constData());
    }

private:
    struct Saved { QByteArray name; bool set; QByteArray value; };
    QList<Saved> m_saved;
};

QString lockFolder() { return updateLockFolder(QProcessEnvironment::systemEnvironment()); }

} // namespace

Q_DECLARE_METATYPE(WireCase)
Q_DECLARE_METATYPE(RunCase)
Q_DECLARE_METATYPE(LockCase)

class TestDialogProgressBar : public QObject
{
    Q_OBJECT

    std::unique_ptr<CameraSim> m_sim;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<ModalWatcher> m_watcher;
    std::unique_ptr<LogCapture> m_log;
    std::unique_ptr<QWidget> m_window;
    // The camera locks of every run here, never the user's own.
    QTemporaryDir m_runtime;

    vup_file_info makeSet(int model, const QList<PlannedFile>& files, const QString& subdir = QStringLiteral("fw"))
    {
        vup_file_info set;
        set.DirPath = m_dir->path() + QLatin1Char('/') + subdir;
        if (!m_sim->setModel(model) || !QDir().mkpath(set.DirPath))
            qFatal("cannot prepare the camera or the firmware folder");
        set.Base64 = QStringLiteral("YWRtaW46cGFzc3dvcmQ=");  // admin:password
        set.CamIPAddress = QString::fromStdString(m_sim->address());
        set.Model = model;
        for (const PlannedFile& f : files) {
            for (const Component& c : kComponents) {
                if (qstrcmp(c.member, f.member) == 0)
                    set.*c.field = {QString::fromUtf8(f.name), QStringLiteral("V02.11"), f.vupno, RMOCAM_TRUE};
            }
            QFile out(set.DirPath + QLatin1Char('/') + QString::fromUtf8(f.name));
            if (!f.content.isNull() && (!out.open(QIODevice::WriteOnly) || out.write(f.content) != f.content.size()))
                qFatal("cannot write the firmware folder");
        }
        return set;
    }

    // Over the operator's window, as the window opens it.
    std::unique_ptr<DialogProgressBar> makeDialog()
    {
        auto d = std::make_unique<DialogProgressBar>(m_window.get());
        d->setTickInterval(3600 * 1000);
        return d;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_runtime.isValid());
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime.path()));
    }

    void init()
    {
        m_sim = std::make_unique<CameraSim>();
        QVERIFY(m_sim->start() > 0);
        m_sim->setRestartTime(std::chrono::milliseconds(0));
        m_dir = std::make_unique<QTemporaryDir>();
        m_watcher = std::make_unique<ModalWatcher>();
        m_log = std::make_unique<LogCapture>();
        m_window = std::make_unique<QWidget>();
        m_window->setObjectName(QStringLiteral("window"));
        m_window->show();
    }

    void cleanup()
    {
        // The credential never reaches the debug log. Checked after the tear-down, so a
        // failure cannot leave this row's capture and camera to the next.
        const QStringList leaked = m_log->secretsFound(credentialForms(QStringLiteral("admin"), QStringLiteral("password")));
        m_log.reset();
        m_watcher.reset();
        m_window.reset();
        m_sim.reset();
        m_dir.reset();
        QCOMPARE(leaked, QStringList());
    }

    void wireBytes_data()
    {
        QTest::addColumn<WireCase>("c");
        const QByteArray firmware = fw("network_cpu", "V02.11");
        QTest::newRow("net img") << WireCase{CAM_MODELID_QV_TKD7_S, "fw", "net.img", firmware, ToolForm::Net, "",
                                             "\\fw\\\\net.img", 546, true};
        QTest::newRow("tk20 ffe, folder outside latin-1")
            << WireCase{CAM_MODELID_QV_NEW_TK20_S, QString::fromUtf8("\u00e9\u20ac\U0001F600fw"), "lens.ffe", firmware,
                        ToolForm::Tk15Tk20, "5", "\\\xe9??fw\\\\lens.ffe", 295, true};
        QTest::newRow("tk300 MAIN.BIN, no code") << WireCase{CAM_MODELID_QV_TK300, "fw", "MAIN.BIN", firmware,
                                                             ToolForm::Tk15Tk20, "", "\\fw\\\\MAIN.BIN", 294, false};
    }

    // The body and headers the camera received, against the tool's bytes as written out in
    // simclient.h.
    void wireBytes()
    {
        QFETCH(WireCase, c);
        const vup_file_info set = makeSet(c.model, {{"lens_fpga", qPrintable(c.fileName), c.content, 1}}, c.subdir);
        const QByteArray name = m_dir->path().toLatin1().replace('/', '\\') + c.nameSuffix;
        const QByteArray expected = toolBody(c.form, name, c.content, c.code);
        QCOMPARE(expected.size(), c.content.size() + name.size() + c.fixed);

        auto d = makeDialog();
        QCOMPARE(d->DIAPRO_StartVerUp(set), 0);
        QTRY_VERIFY(m_sim->uploads().size() == 1 && m_sim->uploads().front().upload);
        const SimRequest got = m_sim->uploads().front();
        QCOMPARE(QByteArray::fromStdString(got.requestLine),
                 c.form == ToolForm::Tk15Tk20 ? "POST /cgi-bin/qv_update HTTP/1.1" : "POST /cgi-bin/upload HTTP/1.1");
        QVERIFY(got.upload->bodyRecorded);
        QCOMPARE(QByteArray::fromStdString(got.upload->body), expected);
        const QByteArray host = QByteArray::fromStdString(m_sim->address());
        RawHeaders sent;
        for (const auto& [key, value] : got.headers)
            sent.append({QByteArray::fromStdString(key), QByteArray::fromStdString(value)});
        QCOMPARE(sent, (RawHeaders{{"Host", host}} + toolHeaders(c.form, expected.size(), "Basic YWRtaW46cGFzc3dvcmQ=", host)
                        + RawHeaders{{"Connection", "close"}, {"User-Agent", "Mozilla/5.0"}}));
        QTRY_VERIFY(DiaPro_mode == 1 || !d->isRunInProgress());
        QCOMPARE(d->isRunInProgress(), c.taken);
    }

    void runs_data()
    {
        QTest::addColumn<RunCase>("c");
        const QByteArray eep = fw("cam_eeprom", "V01.01");
        const QByteArray bin = fw("cam_cpu", "V02.20");
        QTest::newRow("tk300 eep") << RunCase{CAM_MODELID_QV_TK300, {{"cam_eeprom", "c.eep", eep, 1}}, 0, kDone, false,
                                              {"■DEBUG■VerUp Start OK", "■DEBUG■DIAPRO_timeout2_OK()",
                                               "■DEBUG■DIAPRO_finished else2", "QID:OK", "TimerStop",
                                               "■DEBUG■diapro_initializeAllInfo()"}, 1, true};
        // Ends inside DIAPRO_StartVerUp, before any modal run: the caller is told not to wait.
        QTest::newRow("first file missing")
            << RunCase{CAM_MODELID_QV_NEW_TK20_H, {{"cam_cpu", "c.bin", QByteArray(), 1}, {"cam_eeprom", "c.eep", eep, 2}},
                       1, "UpdateNG", false, {"UpdateNG1", "■DEBUG■diapro_initializeAllInfo()"}, 0, false};
        // A name that climbs out of the folder is refused as unreadable, though the file is there.
        QTest::newRow("file outside the folder")
            << RunCase{CAM_MODELID_QV_NEW_TK20_H, {{"cam_cpu", "../c.bin", bin, 1}}, 1, "UpdateNG", false, {"UpdateNG1"}, 0,
                       false};
        // A sealed folder (its refusals before anything is sent are tst_faults rows): one it
        // cannot read refuses every file; a file changed on disk after the start is refused as it is posted.
        QTest::newRow("sums: malformed")
            << RunCase{CAM_MODELID_QV_TKD7_H, {{"cam_cpu", "c.bin", bin, 1}, {"-", "SHA256SUMS", sum(bin, "c.bin").left(60), 0}}, 1,
                       "UpdateNG", false, {"■DEBUG■VerUpFileOK", "■DEBUG■SHA256SUMS NG", "\"c.bin\"", "UpdateNG2"}, 0, false};
        QTest::newRow("sums: second file changed after the start")
            << RunCase{CAM_MODELID_QV_NEW_TK20_H, {{"cam_eeprom", "c.eep", eep, 1}, {"cam_cpu", "c.bin", bin, 2},
                       {"-", "SHA256SUMS", sum(eep, "c.eep") + sum(bin, "c.bin"), 0}}, 0, "UpdateNG", true,
                       {"■DEBUG■SHA256SUMS OK", "NextFile", "■DEBUG■SHA256SUMS NG", "\"c.bin\"", "UpdateNG1"}, 1, true, "c.bin"};
        // An empty image is no firmware: refused before anything is posted, the file named.
        QTest::newRow("empty file") << RunCase{CAM_MODELID_QV_TK10, {{"cam_cpu", "cam.bin", QByteArray(""), 1}}, 1, "UpdateNG",
                                               false, {"■DEBUG■VerUpFileOK", "■DEBUG■EmptyFile NG", "\"cam.bin\""}, 0, false};
        QTest::newRow("empty second file")
            << RunCase{CAM_MODELID_QV_NEW_TK20_H, {{"cam_eeprom", "c.eep", eep, 1}, {"cam_cpu", "c.bin", QByteArray(""), 2}}, 1,
                       "UpdateNG", false, {"■DEBUG■EmptyFile NG", "\"c.bin\""}, 0, false};
        QTest::newRow("first file without form") << RunCase{CAM_MODELID_QV_TK10, {{"cam_eeprom", "c.eep", eep, 1}}, 1,
                                                            "VerUp Err", false, {"■DEBUG■VerUp Start NG"}, 0, false};
        QTest::newRow("later file without form")
            << RunCase{CAM_MODELID_QV_TKD7_H, {{"cam_cpu", "c.bin", bin, 1}, {"cam_eeprom", "c.BIN", eep, 2}}, 0,
                       "VerUp Err", true, {"NextFile", "■DEBUG■VerUp Start NG"}, 1, true};
    }

    void runs()
    {
        QFETCH(RunCase, c);
        m_sim->setRestartTime(std::chrono::milliseconds(150));
        auto d = makeDialog();
        const vup_file_info set = makeSet(c.model, c.files);
        const Outcome o = runAsCaller(*d, set, [&] {
            if (c.changed && waitFor([&] { return DiaPro_mode == 1; })) {
                QFile file(set.DirPath + QLatin1Char('/') + QLatin1String(c.changed));
                QVERIFY(file.open(QIODevice::Append) && file.write("x") == 1);
            }
            driveToEnd(*d);
        });
        QVERIFY(!o.hung);
        QCOMPARE(o.start, c.start);
        QCOMPARE(m_watcher->texts(), QStringList{c.message});
        // Over the dialog while it shows, else over the window: never over a hidden dialog.
        const ModalWatcher::Message box = m_watcher->messages().front();
        QVERIFY(box.parentVisible && box.title.isEmpty());
        QCOMPARE(box.parentName, c.dialogBehindMessage ? QStringLiteral("DialogProgressBar") : QStringLiteral("window"));
        QVERIFY2(m_log->containsInOrder(c.lines), qPrintable(m_log->text().right(3000)));
        QCOMPARE(int(m_sim->uploads().size()), c.uploads);
        QCOMPARE(m_log->contains(QStringLiteral("■DEBUG■DIAPRO_timeout2()")), c.resetWait);
        verifyEnded(*d);
    }

    // Also: a new dialog starts from empty records, whatever an earlier run left in them; the
    // "n/m" label is drawn above the frame; Escape and closing are refused while the run lasts.
    void threeFilesShowProgress()
    {
        DiaPro_mode = 2;
        diapro_currenttime1 = 17.0;
        diapro_sort_fileinfo.MaxFileNum = 3;
        diapro_FileInfo.Model = CAM_MODELID_QV_TK300;
        auto d = makeDialog();
        verifyEnded(*d);
        const QObjectList children = d->children();
        QVERIFY(children.indexOf(d->findChild<QLabel*>(QStringLiteral("Dia_Prog_NumLabel")))
                > children.indexOf(d->findChild<QWidget*>(QStringLiteral("frame"))));
        auto* bar = d->findChild<QProgressBar*>(QStringLiteral("Dia_Prog_Bar"));
        // Each file is held only while it is on its way: once the camera has it, the run holds none.
        const auto files = std::make_shared<FirmwareFiles>();
        d->findChild<UpdateRun*>()->setFirmwareFiles(files);
        QList<bool> released;
        QList<int> barValues;
        connect(bar, &QProgressBar::valueChanged, this, [&](int v) { barValues << v; });
        QStringList shown;
        bool stayed = false;
        bool stayedUploading = false;
        const auto driver = [&] {
            // While the file is on its way, Escape and close are refused without a word.
            QTest::keyClick(d.get(), Qt::Key_Escape);
            stayedUploading = !d->close() && DiaPro_mode == 0 && d->isRunInProgress();
            QTest::qWait(20);
            stayedUploading = stayedUploading && m_watcher->texts().isEmpty() && d->isVisible();
            for (int file = 0; file < 3; ++file) {
                if (!waitFor([&] { return DiaPro_mode == 1; }))
                    return;
                released << waitFor([&] { return files->count() == 0; }, 2000);
                if (file == 0) {
                    // Once the camera holds it they ask; the operator keeps watching.
                    QTest::keyClick(d.get(), Qt::Key_Escape);
                    stayed = !d->close() && waitFor([&] { return m_watcher->texts().size() == 1; }) && d->isVisible()
                        && d->isRunInProgress() && diapro_FileInfo.Model == CAM_MODELID_QV_OLD_TK20_S
                        && timer(*d, "diapro_Timer2")->isActive();
                }
                shown << d->findChild<QLabel*>(QStringLiteral("Dia_Prog_NumLabel"))->text() + QLatin1Char(' ')
                        + d->findChild<QLabel*>(QStringLiteral("Dia_Prog_Label"))->text() + QLatin1Char(' ')
                        + QString::number(bar->value());
                invoke(*d, "DIAPRO_timeout2");
                if (!waitFor([&] { return DiaPro_mode == 0 || !d->isRunInProgress(); }))
                    return;
            }
        };
        QVERIFY(!runAsCaller(*d, makeSet(CAM_MODELID_QV_OLD_TK20_S, {{"cam_cpu", "cam.bin", fw("cam_cpu", "V03.30"), 3},
                                                                    {"front_fpga", "front.ffe", fw("front_fpga", "V01.60"), 1},
                                                                    {"cam_eeprom", "cam.eep", fw("cam_eeprom", "V01.02"), 2}}),
                             driver).hung);
        QVERIFY(stayedUploading && stayed);
        QCOMPARE(released, (QList<bool>{true, true, true}));
        QCOMPARE(shown, (QStringList{"1/3 front.ffe 0", "2/3 cam.eep 0", "3/3 cam.bin 0"}));
        QCOMPARE(barValues, (QList<int>{100, 0, 100, 0, 100}));
        QCOMPARE(m_watcher->texts(), (QStringList{kStopQuestion, kDone}));
        QVERIFY(m_watcher->messages().front().parentName == u"DialogProgressBar" && m_watcher->messages().front().parentVisible);
        // The dialog has closed itself before its last box.
        QVERIFY(m_watcher->messages().back().parentName == u"window" && m_watcher->messages().back().parentVisible);
        QCOMPARE(m_sim->version(SIM_CAM_CPU), std::string("V03.30"));
        verifyEnded(*d);
    }

    // A camera that never comes back, each re-inquiry answered (refused) before the next tick:
    // the tick that reaches the deadline ends the run without asking once more, so nothing
    // goes to the camera after the end.
    void lastTickAsksNothing()
    {
        SimFaults never;
        never.upload = SimUploadFault::NeverReturn;
        m_sim->setFaults(never);
        auto d = makeDialog();
        const auto driver = [&] {
            if (!waitFor([&] { return DiaPro_mode == 1; }))
                return;
            for (int tick = 0; tick < 400 && d->isRunInProgress(); ++tick) {
                invoke(*d, "DIAPRO_timeout2");
                waitFor([&] { return DiaPro_mode != 2 || !d->isRunInProgress(); });
            }
        };
        QVERIFY(!runAsCaller(*d, makeSet(CAM_MODELID_QV_TK300, {{"cam_eeprom", "c.eep", fw("cam_eeprom", "V01.01"), 1}}),
                             driver).hung);
        QCOMPARE(m_watcher->texts(), QStringList{"UpdateNG"});
        const QStringList lines = m_log->lines();
        const qsizetype lastTick = lines.lastIndexOf(QStringLiteral("■DEBUG■DIAPRO_timeout2()"));
        QVERIFY(lastTick > 0 && !lines.mid(lastTick).contains(QStringLiteral("■DEBUG■DIAPRO_timeout2_OK()")));
        QCOMPARE(qsizetype(m_sim->requests().size() - 1), lines.count(QStringLiteral("■DEBUG■DIAPRO_timeout2_OK()")));
    }

    // A TKD7 S whose network software comes back with the file's version (a mismatch is a tst_faults
    // end). The re-inquiry is never doubled while out, and is still out when the next file starts.
    void networkVersion()
    {
        const vup_file_info set = makeSet(CAM_MODELID_QV_TKD7_S, {{"network_cpu", "net.img", fw("network_cpu", "V02.11"), 1},
                                                                 {"cam_cpu", "cam.bin", fw("cam_cpu", "V02.30"), 2}});
        auto d = makeDialog();
        const auto driver = [&] {
            if (!waitFor([&] { return DiaPro_mode == 1; }))
                return;
            SimFaults slow;
            slow.modelDelayMs = 2000;
            m_sim->setFaults(slow);
            const quint64 before = m_sim->bytesReceived();
            for (int tick = 1; tick < 1650; ++tick)
                invoke(*d, "DIAPRO_timeout2");
            // The re-inquiry reaches the camera while it still answers slowly.
            QVERIFY(waitFor([&] { return m_sim->bytesReceived() > before; }));
            // No second re-inquiry and no version inquiry before the deadline; then one per tick.
            QCOMPARE(m_log->count(QStringLiteral("■DEBUG■DIAPRO_timeout2_OK()")), 1);
            QCOMPARE(m_log->count(QStringLiteral("■DEBUG■diapro_ReqCam()")), 0);
            invoke(*d, "DIAPRO_timeout2");
            invoke(*d, "DIAPRO_timeout2");
            QCOMPARE(m_log->count(QStringLiteral("■DEBUG■diapro_ReqCam()")), 2);
            slow.modelDelayMs = 0;
            slow.uploadDelayMs = 2500;
            m_sim->setFaults(slow);
            driveToEnd(*d);
        };
        QVERIFY(!runAsCaller(*d, set, driver).hung);
        QCOMPARE(m_watcher->texts(), QStringList{kDone});
        QVERIFY(m_watcher->messages().front().parentName == u"window" && m_watcher->messages().front().parentVisible);
        // The second version answer and the stale re-inquiry are let go unjudged.
        QTRY_COMPARE(m_log->count(QStringLiteral("■DEBUG■DIAPRO_CAM_finished ignored")), 1);
        QTRY_COMPARE(m_log->count(QStringLiteral("■DEBUG■DIAPRO_finished ignored")), 1);
        verifyEnded(*d);
    }

    void cameraLock_data()
    {
        QTest::addColumn<LockCase>("c");
        QTest::newRow("held by another process") << LockCase{LockCase::Runtime, "sim", nullptr, true, "■DEBUG■CameraLock NG"};
        // One camera however its address is written.
        QTest::newRow("held as 127.0.0.1:80, run for 127.0.0.1")
            << LockCase{LockCase::Runtime, "127.0.0.1:80", "127.0.0.1", true, "■DEBUG■CameraLock NG"};
        QTest::newRow("another camera held") << LockCase{LockCase::Runtime, "127.0.0.1:1", nullptr, false, "■DEBUG■CameraLock NG"};
        QTest::newRow("free") << LockCase{LockCase::Runtime, nullptr, nullptr, false, "■DEBUG■CameraLock NG"};
        // Without a place for the lock the window updates all the same.
        QTest::newRow("no lock folder") << LockCase{LockCase::NoFolder, nullptr, nullptr, false, "■DEBUG■CameraLock none"};
        QTest::newRow("lock folder cannot be made")
            << LockCase{LockCase::Unmakeable, nullptr, nullptr, false, "■DEBUG■CameraLock none"};
    }

    // The run holds the camera's lock from its start, before anything is posted, until its
    // dialog is gone; a camera another process holds is refused without a byte sent to it.
    void cameraLock()
    {
        QFETCH(LockCase, c);
        const QString sim = QString::fromStdString(m_sim->address());
        UpdateLock other;
        if (c.held) {
            other = UpdateLock::camera(lockFolder(), qstrcmp(c.held, "sim") == 0 ? sim : QLatin1String(c.held));
            QVERIFY(other.held());
        }
        vup_file_info set = makeSet(CAM_MODELID_QV_TK300, {{"cam_eeprom", "c.eep", fw("cam_eeprom", "V01.01"), 1}});
        if (c.camera)
            set.CamIPAddress = QLatin1String(c.camera);
        {
            SavedEnvironment saved({"XDG_RUNTIME_DIR", "XDG_STATE_HOME", "HOME"});
            qunsetenv("XDG_STATE_HOME");
            if (c.folder == LockCase::NoFolder) {
                qunsetenv("XDG_RUNTIME_DIR");
                qunsetenv("HOME");
            } else if (c.folder == LockCase::Unmakeable) {
                QFile plain(m_dir->filePath(QStringLiteral("plain")));
                QVERIFY(plain.open(QIODevice::WriteOnly));
                qputenv("XDG_RUNTIME_DIR", QFile::encodeName(plain.fileName()));
            }
            const bool runHoldsLock = c.folder == LockCase::Runtime && !c.refused;
            // A second window's dialog, made before the run as the window makes its own.
            auto second = makeDialog();
            auto d = makeDialog();
            int secondStart = -1;
            UpdateLock::Outcome duringRun = UpdateLock::Outcome::Failed;
            qint64 holder = 0;
            const Outcome o = runAsCaller(*d, set, [&] {
                if (runHoldsLock) {
                    const UpdateLock mine = UpdateLock::camera(lockFolder(), sim);
                    duringRun = mine.outcome();
                    holder = mine.holderPid();
                    secondStart = second->DIAPRO_StartVerUp(set);
                }
                driveToEnd(*d);
            });
            QVERIFY(!o.hung);
            QCOMPARE(o.start, c.refused ? 1 : 0);
            const QStringList told = m_watcher->texts();
            if (c.refused) {
                QCOMPARE(told, QStringList{kCameraHeld});
                const ModalWatcher::Message box = m_watcher->messages().front();
                QVERIFY(box.title.isEmpty() && box.icon == QMessageBox::Information);
                QVERIFY(box.parentName == u"window" && box.parentVisible);
                QVERIFY(m_sim->requests().empty() && m_sim->bytesReceived() == 0);
                // Nothing of the run began.
                QVERIFY(!m_log->contains(QStringLiteral("■DEBUG■DIAPRO_StartVerUp()")));
            } else {
                QCOMPARE(told, (runHoldsLock ? QStringList{kCameraHeld, kDone} : QStringList{kDone}));
                QCOMPARE(int(m_sim->uploads().size()), 1);
            }
            if (runHoldsLock) {
                QVERIFY(duringRun == UpdateLock::Outcome::Held && holder == QCoreApplication::applicationPid());
                QCOMPARE(secondStart, 1);
                QCOMPARE(m_log->count(QStringLiteral("■DEBUG■DIAPRO_StartVerUp()")), 1);
                // Still held behind the last box and until the dialog is gone.
                QCOMPARE(UpdateLock::camera(lockFolder(), sim).outcome(), UpdateLock::Outcome::Held);
            }
            // One word on the lock, the refusal's (this run's, or the second dialog's) with its holder.
            const QStringList lines = m_log->lines();
            const QStringList said = lines.filter(QRegularExpression(QStringLiteral("^■DEBUG■CameraLock")));
            QCOMPARE(said, QStringList{QString::fromUtf8(c.line)});
            if (c.folder == LockCase::Runtime)
                QCOMPARE(lines.value(lines.indexOf(said.front()) + 1), QString::number(QCoreApplication::applicationPid()));
            verifyEnded(*d);
        }
        other.release();
        QVERIFY(UpdateLock::camera(lockFolder(), set.CamIPAddress).held());
    }

    void uploadWaitsSummedOverRun()
    {
        auto d = makeDialog();
        const auto driver = [&] {
            for (int waited : {100, 120, 80}) {
                // The reply cannot be handled while the ticks run: each is a full second of waiting.
                for (int i = 1; i < waited; ++i)
                    invoke(*d, "DIAPRO_timeout1");
                QVERIFY(d->isRunInProgress());
                invoke(*d, "DIAPRO_timeout1");
                if (!d->isRunInProgress() || !waitFor([&] { return DiaPro_mode == 1; }))
                    return;
                invoke(*d, "DIAPRO_timeout2");
                waitFor([&] { return DiaPro_mode == 0; });
            }
        };
        QVERIFY(!runAsCaller(*d, makeSet(CAM_MODELID_QV_NEW_TK20_H, {{"cam_cpu", "a.bin", fw("cam_cpu", "V03.60"), 1},
                                                                    {"servo_cpu", "b.bin", fw("servo_cpu", "V01.20"), 2},
                                                                    {"lens_fpga", "c.ffe", fw("lens_fpga", "V01.10"), 3}}),
                             driver).hung);
        QCOMPARE(m_watcher->texts(), QStringList{QStringLiteral("UpdateNG")});
        QVERIFY(m_log->containsInOrder({"NextFile", "NextFile", "■DEBUG■Timeout1 NG", "UpdateNG4"}));
        QCOMPARE(m_log->count(QStringLiteral("■DEBUG■diaPro_VerUpStart_TK15_TK20()")), 3);
        verifyEnded(*d);
    }
};

QTEST_MAIN(TestDialogProgressBar)
#include "tst_dialogprogressbar.moc"
