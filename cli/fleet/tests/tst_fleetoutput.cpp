#include "cli/fleet/fleetoutput.h"
#include "cli/fleet/progressview.h"

#include "common/displaytext.h"
#include "launch/componentversions.h"

#include <QRegularExpression>
#include <QtTest>

#include <string_view>

using namespace std::string_view_literals;

namespace {

// UTF-16 as written, NULs and lone units included.
QString utf16(std::u16string_view text)
{
    return QString(reinterpret_cast<const QChar*>(text.data()), qsizetype(text.size()));
}

// What a hostile camera or report file may hold: a window title, a screen clear, an 8-bit CSI.
const QString kHostile = utf16(u"\x1b]0;pwned\x07\x1b[2J\x9b" u"1m"sv);
const QString kHostileShown = QStringLiteral("\\x1b]0;pwned\\x07\\x1b[2J\\x9b1m");

// The terminal would act on any control character but the line ends.
bool controlFree(const QString& text)
{
    for (const QChar c : text) {
        if (c != u'\n' && (c.unicode() < 0x20 || (c.unicode() >= 0x7f && c.unicode() <= 0x9f)))
            return false;
    }
    return true;
}

// What a terminal shows after the bytes: "\n" as the terminal driver sends it (to the
// start of the next line), "\r", and the three sequences the view uses: up n lines,
// clear to the end of the line, clear below.
QStringList screen(const QByteArray& bytes)
{
    QStringList lines{QString()};
    int row = 0;
    int col = 0;
    const QString text = QString::fromUtf8(bytes);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'\x1b') {
            qsizetype end = i + 2;
            while (end < text.size() && !text[end].isLetter())
                ++end;
            const int n = qMax(1, text.mid(i + 2, end - i - 2).toInt());
            const QChar op = end < text.size() ? text[end] : QChar();
            if (op == u'A')
                row = qMax(0, row - n);
            if (op == u'K' || op == u'J')
                lines[row].truncate(col);
            if (op == u'J')
                lines = lines.mid(0, row + 1);
            i = end;
        } else if (c == u'\r') {
            col = 0;
        } else if (c == u'\n') {
            col = 0;
            if (++row == lines.size())
                lines << QString();
        } else {
            lines[row] = lines[row].leftJustified(col).left(col) + c + lines[row].mid(col + 1);
            ++col;
        }
    }
    while (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

CameraStatus status(const QString& address, CameraStatus::Phase phase, int percent = -1)
{
    CameraStatus s;
    s.address = address;
    s.phase = phase;
    s.fileNumber = 1;
    s.fileCount = 2;
    s.fileName = QStringLiteral("net.img");
    s.percent = percent;
    return s;
}

CameraStatus ended(const QString& address, FleetEnd end, const QString& message)
{
    CameraStatus s = status(address, CameraStatus::Phase::Ended);
    s.end = end;
    s.message = message;
    return s;
}

} // namespace

class TestFleetOutput : public QObject
{
    Q_OBJECT

private slots:
    void displaySafe_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        QTest::newRow("empty") << QString() << QString();
        QTest::newRow("a version") << "V01.20" << "V01.20";
        QTest::newRow("C0, NUL to US") << utf16(u"a\0b\x01\x07\t\n\r\x1b\x1f"sv)
                                       << "a\\x00b\\x01\\x07\\x09\\x0a\\x0d\\x1b\\x1f";
        QTest::newRow("window title, screen clear") << utf16(u"\x1b]0;pwned\x07\x1b[2J"sv)
                                                    << "\\x1b]0;pwned\\x07\\x1b[2J";
        QTest::newRow("colour") << utf16(u"\x1b[31mred\x1b[0m"sv) << "\\x1b[31mred\\x1b[0m";
        QTest::newRow("DEL") << utf16(u"a\x7f" u"b"sv) << "a\\x7fb";
        QTest::newRow("C1: CSI, NEL, first, last") << utf16(u"\x9b" u"2J\x85\x80\x9f"sv) << "\\x9b2J\\x85\\x80\\x9f";
        QTest::newRow("Latin-1 next to C1") << utf16(u"~\xa0\xa9 dr\xfci \xff"sv) << utf16(u"~\xa0\xa9 dr\xfci \xff"sv);
        QTest::newRow("UTF-8 text") << QStringLiteral("カメラ 温度 € ä") << QStringLiteral("カメラ 温度 € ä");
        // U+1F41B and U+1F09B: low surrogates DC1B and DC9B, whose low bytes are ESC and CSI.
        QTest::newRow("surrogate pairs") << utf16(u"\U0001F41B \U0001F09B \U0001F4F7"sv)
                                         << utf16(u"\U0001F41B \U0001F09B \U0001F4F7"sv);
        QTest::newRow("a backslash stays") << "C:\\fw\\x1b" << "C:\\fw\\x1b";
    }

    void displaySafe()
    {
        QFETCH(QString, text);
        QFETCH(QString, shown);
        QCOMPARE(::displaySafe(text), shown);
    }

    // Cut to the columns a terminal gives it: wide characters take two, marks none, and no
    // character is parted from its marks or split from its other half.
    void elidedText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("columns");
        QTest::addColumn<bool>("keepStart");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("width");
        const QString servo = QStringLiteral("qv_servo_cpu_V0120.spt");
        QTest::newRow("fits") << servo << 22 << true << servo << 22;
        QTest::newRow("start and end") << servo << 17 << true << QStringLiteral("qv_servo…0120.spt") << 17;
        QTest::newRow("the end gets the odd column") << servo << 12 << true << QStringLiteral("qv_se…20.spt") << 12;
        QTest::newRow("end only") << QStringLiteral("192.0.2.105:8080") << 9 << false << QStringLiteral("…105:8080") << 9;
        QTest::newRow("no room") << servo << 0 << true << QString() << 0;
        QTest::newRow("an ellipsis only") << servo << 1 << true << QStringLiteral("…") << 1;
        QTest::newRow("combining marks") << QStringLiteral("e\u0301e\u0301e\u0301e\u0301e\u0301") << 4 << true
                                         << QStringLiteral("e\u0301…e\u0301e\u0301") << 4;
        QTest::newRow("wide") << QStringLiteral("カメラ温度.spt") << 9 << true << QStringLiteral("カメ….spt") << 9;
        QTest::newRow("surrogate pairs, wide") << utf16(u"\U0001F4F7\U0001F4F7\U0001F4F7\U0001F4F7"sv) << 4 << true
                                               << utf16(u"\u2026\U0001F4F7"sv) << 3;
        QTest::newRow("surrogate pairs, narrow") << utf16(u"\U0001D400\U0001D401\U0001D402\U0001D403"sv) << 3 << true
                                                 << utf16(u"\U0001D400\u2026\U0001D403"sv) << 3;
    }

    void elidedText()
    {
        QFETCH(QString, text);
        QFETCH(int, columns);
        QFETCH(bool, keepStart);
        QFETCH(QString, shown);
        QFETCH(int, width);
        QCOMPARE(::elidedText(text, columns, keepStart), shown);
        QCOMPARE(displayWidth(shown), width);
    }

    // Every table from data: the camera's, the folder's and a report's words reach the
    // terminal escaped, and columns are as wide as what is shown.
    void tablesEscaped_data()
    {
        QTest::addColumn<QString>("table");
        QTest::addColumn<QString>("shown");  // a whole line of the table

        ScanResult camera;
        camera.address = QStringLiteral("127.0.0.1:8080");
        camera.ok = true;
        camera.camera.ModelID = CAM_MODELID_QV_TK300;
        camera.camera.Ver_NetworkCPU = kHostile;
        camera.camera.Ver_PanTiltCPU = QStringLiteral("V01.10");
        ScanResult unreachable;
        unreachable.address = QStringLiteral("127.0.0.1:8081");
        unreachable.error = kHostile;
        const QString scan = scanTable({camera, unreachable});
        QTest::newRow("scan, head") << scan
                                    << "ADDRESS         MODEL     CAM  NET" + QString(kHostileShown.size() - 3, u' ')
                                           + "  SERVO   IF-CPU  FRONT  BACK  LENS  CAM-EEP  IF-EEP";
        QTest::newRow("scan, versions") << scan << "127.0.0.1:8080  QV_TK300  -    " + kHostileShown
                                                       + "  V01.10  -       -      -     -     -        -";
        QTest::newRow("scan, unreachable") << scan << "127.0.0.1:8081  " + kHostileShown;

        PlanEntry planned;
        planned.scan = camera;
        planned.plan.valid = true;
        planned.plan.section = QStringLiteral("TK300") + kHostile;
        PlannedFile plannedFile;
        plannedFile.component = 1;
        plannedFile.fileName = QStringLiteral("net") + kHostile + QStringLiteral(".img");
        plannedFile.version = kHostile;
        plannedFile.vupno = 1;
        plannedFile.cameraVersion = kHostile;
        planned.plan.files = {plannedFile};
        PlanEntry refused = planned;
        refused.plan.valid = false;
        refused.plan.end = FleetEnd::VersionsRefused;
        refused.plan.reason = kHostile;
        refused.plan.message = kHostile;
        PlanEntry away;
        away.scan = unreachable;
        const QString plan = planTable({planned, refused, away});
        QTest::newRow("plan, head") << plan
                                    << "127.0.0.1:8080  QV_TK300  [TK300" + kHostileShown + "]  versions accepted, 1 file to send";
        QTest::newRow("plan, file") << plan
                                    << "   1.  network_cpu  net" + kHostileShown + ".img  " + kHostileShown + "  (camera "
                                           + kHostileShown + ")  vupno 1";
        QTest::newRow("plan, refused") << plan
                                       << "127.0.0.1:8080  QV_TK300  [TK300" + kHostileShown + "]  versions-refused: "
                                              + kHostileShown + " (" + kHostileShown + ")";
        QTest::newRow("plan, unreachable") << plan << "127.0.0.1:8081  unreachable: " + kHostileShown;

        CameraReport report;
        report.address = QStringLiteral("127.0.0.1:8080");
        report.model = CAM_MODELID_QV_TK300;
        report.end = FleetEnd::UploadRefused;
        report.message = kHostile;
        report.credentialSource = QStringLiteral("file line 7");
        report.started = QDateTime::fromString(QStringLiteral("2026-12-08T09:30:00.125Z"), Qt::ISODateWithMs);
        ReportedFile file;
        file.component = 1;
        file.fileName = kHostile;
        file.version = QStringLiteral("V02.20");
        file.result = FileResult::Failed;
        report.files = {file};
        QTest::newRow("summary") << summaryTable({report})
                                 << "127.0.0.1:8080  QV_TK300  upload-refused  no        0/1    file line 7  " + kHostileShown;
        FleetReport run;
        run.run.tool = QStringLiteral("kelvora-fleet");
        run.run.version = kHostile;
        run.run.folder = QStringLiteral("/fw/") + kHostile;
        run.cameras = {report};
        QTest::newRow("history") << historyTable({run})
                                 << "2026-12-08T09:30:00.125Z  127.0.0.1:8080  QV_TK300  upload-refused  no        "
                                    + kHostileShown + " V02.20 (failed)";
        QTest::newRow("run header") << runHeader(run.run) << "kelvora-fleet " + kHostileShown + ", folder /fw/" + kHostileShown;
    }

    void tablesEscaped()
    {
        QFETCH(QString, table);
        QFETCH(QString, shown);
        QVERIFY2(controlFree(table), qPrintable(table.toHtmlEscaped()));
        QVERIFY2(table.split(QLatin1Char('\n')).contains(shown), qPrintable(table));
    }

    void terminalView_data()
    {
        using P = CameraStatus::Phase;
        QTest::addColumn<int>("columns");
        QTest::addColumn<int>("rows");
        QTest::addColumn<std::vector<CameraStatus>>("events");
        QTest::addColumn<QStringList>("shown");
        const QString a = QStringLiteral("127.0.0.1:8080");
        const QString b = QStringLiteral("127.0.0.1:8081");
        const QString c = QStringLiteral("127.0.0.1:8082");
        QTest::newRow("lines redrawn in place")
            << 80 << 24
            << std::vector<CameraStatus>{status(a, P::Asking), status(b, P::Asking), status(a, P::Uploading, 5),
                                         status(b, P::Restarting, 40), status(a, P::Uploading, 100)}
            << QStringList{"127.0.0.1:8080  file 1/2 net.img uploading 100%",
                           "127.0.0.1:8081  file 1/2 net.img waiting for restart 40%"};
        QTest::newRow("ends move above, in the order they came")
            << 80 << 24
            << std::vector<CameraStatus>{status(a, P::Uploading, 10), status(b, P::Uploading, 20), status(c, P::Asking),
                                         ended(a, FleetEnd::UploadRefused, QStringLiteral("VerUp Err")),
                                         ended(c, FleetEnd::Unreachable, QStringLiteral("no answer")),
                                         status(b, P::Verifying)}
            << QStringList{"127.0.0.1:8080  upload-refused: VerUp Err", "127.0.0.1:8082  unreachable: no answer",
                           "127.0.0.1:8081  verifying"};
        // The terminal echoes Ctrl-C where the cursor waits, below the live lines.
        QTest::newRow("an echoed ^C is wiped")
            << 80 << 24 << std::vector<CameraStatus>{status(a, P::Asking), CameraStatus(), status(a, P::Verifying)}
            << QStringList{"127.0.0.1:8080  verifying"};
        QTest::newRow("fit to the width, the state whole") << 30 << 24 << std::vector<CameraStatus>{status(a, P::Uploading, 40)}
                                                          << QStringList{"127.0.0.1:8080  uploading 40%"};
        CameraStatus hostile = status(a, P::Uploading, 40);
        hostile.fileName = QStringLiteral("net") + kHostile + QStringLiteral(".img");
        QTest::newRow("camera and folder text escaped")
            << 120 << 24 << std::vector<CameraStatus>{hostile, ended(b, FleetEnd::Unreachable, kHostile)}
            << QStringList{"127.0.0.1:8081  unreachable: " + kHostileShown,
                           "127.0.0.1:8080  file 1/2 net" + kHostileShown + ".img uploading 40%"};
        QTest::newRow("more than the screen holds")
            << 80 << 4 << std::vector<CameraStatus>{status(a, P::Asking), status(b, P::Asking), status(c, P::Asking)}
            << QStringList{"127.0.0.1:8080  asking the camera", "127.0.0.1:8081  asking the camera",
                           "... and 1 more at work"};
    }

    void terminalView()
    {
        QFETCH(int, columns);
        QFETCH(int, rows);
        QFETCH(std::vector<CameraStatus>, events);
        QFETCH(QStringList, shown);
        QByteArray written;
        ProgressView view([&written](const QByteArray& bytes) { written += bytes; }, true);
        view.setScreenSize(columns, rows);
        view.setAddressWidth(14);
        for (const CameraStatus& s : events) {
            if (s.address.isEmpty())
                written += "^C";
            else
                view.update(s);
        }
        QCOMPARE(screen(written), shown);
        // No control character but the view's own: line ends, cursor up, clearing.
        const QString own = QString::fromUtf8(written).remove(QRegularExpression(QStringLiteral("\x1b\\[(\\d+A|K|J)|\r")));
        QVERIFY2(controlFree(own), qPrintable(own.toHtmlEscaped()));
    }

    // A live line fits the screen (its columns less one): the file name gives way first, to
    // its shortest, then the address's padding, then the address; the state and its
    // percentage never. An ended line goes above whole, as does every plain line.
    void fitted_data()
    {
        using P = CameraStatus::Phase;
        QTest::addColumn<int>("columns");
        QTest::addColumn<CameraStatus>("event");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("state");
        const QString long_ = QStringLiteral("qv_servo_cpu_V0120_build-2026-12-08_release-candidate.spt");
        const auto at = [&](P phase, int percent, const QString& name = QString()) {
            CameraStatus s = status(QStringLiteral("192.0.2.105:8080"), phase, percent);
            s.fileNumber = 2;
            s.fileCount = 3;
            s.fileName = name.isNull() ? long_ : name;
            return s;
        };
        const QString up = QStringLiteral("uploading 40%");
        const QString restart = QStringLiteral("waiting for restart 40%");
        const QString network = QStringLiteral("checking the network version");
        QTest::newRow("120, uploading") << 120 << at(P::Uploading, 40)
                                        << "192.0.2.105:8080    file 2/3 " + long_ + " uploading 40%" << up;
        QTest::newRow("80, uploading") << 80 << at(P::Uploading, 40)
                                       << QStringLiteral("192.0.2.105:8080    file 2/3 qv_servo_cpu_V012…ease-candidate.spt uploading 40%") << up;
        QTest::newRow("80, restart") << 80 << at(P::Restarting, 40)
                                     << QStringLiteral("192.0.2.105:8080    file 2/3 qv_servo_cpu…candidate.spt waiting for restart 40%") << restart;
        QTest::newRow("80, network") << 80 << at(P::CheckingNetwork, -1)
                                     << QStringLiteral("192.0.2.105:8080    file 2/3 qv_servo_c…didate.spt checking the network version") << network;
        QTest::newRow("60, uploading") << 60 << at(P::Uploading, 40)
                                       << QStringLiteral("192.0.2.105:8080    file 2/3 qv_serv…date.spt uploading 40%") << up;
        QTest::newRow("60, restart") << 60 << at(P::Restarting, 40)
                                     << QStringLiteral("….2.105:8080  file 2/3 qv_se…te.spt waiting for restart 40%") << restart;
        QTest::newRow("60, network") << 60 << at(P::CheckingNetwork, -1)
                                     << QStringLiteral("192.0.2.105:8080    file 2/3 checking the network version") << network;
        QTest::newRow("40, uploading") << 40 << at(P::Uploading, 40) << QStringLiteral("…2.0.2.105:8080  file 2/3 uploading 40%") << up;
        QTest::newRow("40, restart") << 40 << at(P::Restarting, 100) << QStringLiteral("…0.2.105:8080  waiting for restart 100%") << "waiting for restart 100%";
        QTest::newRow("40, network") << 40 << at(P::CheckingNetwork, -1) << QStringLiteral("…105:8080  checking the network version") << network;
        QTest::newRow("80, short name") << 80 << at(P::Restarting, 40, QStringLiteral("net.img"))
                                        << "192.0.2.105:8080    file 2/3 net.img waiting for restart 40%" << restart;
        QTest::newRow("80, escaped name") << 80 << at(P::Uploading, 40, QStringLiteral("\x1b[2J") + long_)
                                          << QStringLiteral("192.0.2.105:8080    file 2/3 \\x1b[2Jqv_servo_c…ease-candidate.spt uploading 40%") << up;
        CameraStatus ended = at(P::Ended, -1);
        ended.end = FleetEnd::CameraNotBack;
        ended.message = QStringLiteral("UpdateNG");
        QTest::newRow("40, ended, whole") << 40 << ended << "192.0.2.105:8080    camera-not-back: UpdateNG"
                                          << "camera-not-back: UpdateNG";
        QTest::newRow("60, wide name") << 60 << at(P::Uploading, 40, QStringLiteral("カメラ_サーボ_V0120_リリース候補.spt"))
                                       << QStringLiteral("192.0.2.105:8080    file 2/3 カメラ_…候補.spt uploading 40%") << up;
    }

    void fitted()
    {
        QFETCH(int, columns);
        QFETCH(CameraStatus, event);
        QFETCH(QString, shown);
        QFETCH(QString, state);
        QByteArray written;
        ProgressView view([&written](const QByteArray& bytes) { written += bytes; }, true);
        view.setScreenSize(columns, 24);
        view.setAddressWidth(18);
        view.update(event);
        const QStringList lines = screen(written);
        QCOMPARE(lines.size(), 1);
        QVERIFY2(event.phase == CameraStatus::Phase::Ended || displayWidth(lines[0]) < columns, qPrintable(lines[0]));
        QVERIFY(lines[0].endsWith(QLatin1Char(' ') + state));
        QVERIFY(lines[0].startsWith(QStringLiteral("192.0.2.105:8080")) || lines[0].startsWith(QStringLiteral("\u2026")));
        QCOMPARE(lines[0], shown);
    }

    // Not on a terminal: one plain line per change, percentages in steps of ten.
    void plainView()
    {
        QByteArray written;
        ProgressView view([&written](const QByteArray& bytes) { written += bytes; }, false);
        const QString a = QStringLiteral("127.0.0.1:8080");
        view.update(status(a, CameraStatus::Phase::Waiting));
        for (int percent = 0; percent <= 100; percent += 3)
            view.update(status(a, CameraStatus::Phase::Uploading, percent));
        view.update(ended(a, FleetEnd::Completed, QString()));
        CameraStatus hostile = status(QStringLiteral("127.0.0.1:8081"), CameraStatus::Phase::Restarting, 50);
        hostile.fileName = kHostile;
        view.update(hostile);
        view.update(ended(QStringLiteral("127.0.0.1:8081"), FleetEnd::CameraNotBack, kHostile));
        view.print(QStringLiteral("kelvora-fleet: cannot write the report \"") + kHostile + QStringLiteral("\""));
        const QStringList lines = QString::fromUtf8(written).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 14);
        QCOMPARE(lines[0], QStringLiteral("127.0.0.1:8080 file 1/2 net.img uploading 0%"));
        QCOMPARE(lines[9], QStringLiteral("127.0.0.1:8080 file 1/2 net.img uploading 90%"));
        QCOMPARE(lines[10], QStringLiteral("127.0.0.1:8080 completed, NOT verified"));
        QCOMPARE(lines[11], "127.0.0.1:8081 file 1/2 " + kHostileShown + " waiting for restart 50%");
        QCOMPARE(lines[12], "127.0.0.1:8081 camera-not-back: " + kHostileShown);
        QCOMPARE(lines[13], "kelvora-fleet: cannot write the report \"" + kHostileShown + "\"");
        QVERIFY(controlFree(QString::fromUtf8(written)));
    }
};

QTEST_GUILESS_MAIN(TestFleetOutput)
#include "tst_fleetoutput.moc"
