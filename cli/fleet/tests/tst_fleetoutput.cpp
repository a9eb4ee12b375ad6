#include "cli/fleet/fleetoutput.h"
#include "cli/fleet/progressview.h"

#include "launch/componentversions.h"

#include <QtTest>

namespace {

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
        QTest::newRow("cut to the width") << 30 << 24 << std::vector<CameraStatus>{status(a, P::Uploading, 40)}
                                          << QStringList{"127.0.0.1:8080  file 1/2 net."};
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
        const QStringList lines = QString::fromUtf8(written).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 11);
        QCOMPARE(lines[0], QStringLiteral("127.0.0.1:8080 file 1/2 net.img uploading 0%"));
        QCOMPARE(lines[9], QStringLiteral("127.0.0.1:8080 file 1/2 net.img uploading 90%"));
        QCOMPARE(lines[10], QStringLiteral("127.0.0.1:8080 completed, NOT verified"));
        QVERIFY(!written.contains('\x1b'));
    }
};

QTEST_GUILESS_MAIN(TestFleetOutput)
#include "tst_fleetoutput.moc"
