#ifndef KELVORA_TESTS_WINDOWUPDATE_H
#define KELVORA_TESTS_WINDOWUPDATE_H

// The main window's own update of one camera, as its operator carries it out, and what a
// simulated camera was sent: for tests that hold another front end's bytes against the
// window's, request for request. Only for targets that link the main window.

#include "app/mainwindow.h"
#include "sim/camerasim.h"
#include "tests/support/operator.h"

#include <QToolButton>
#include <QtTest>

// Every upload a simulated camera received: its head and body, byte for byte.
inline QList<QByteArray> uploadsOf(const CameraSim& sim)
{
    QList<QByteArray> out;
    for (const SimRequest& r : sim.uploads())
        out << QByteArray::fromStdString(r.rawHead) + QByteArray::fromStdString(r.upload ? r.upload->body : std::string());
    return out;
}

// Connect, the folder, exactly these components ticked (firmware records' member names),
// Execute, the credentials: the run must end completed.
inline void updateThroughMainWindow(const QString& address, const QString& folder, const QString& user,
                                    const QString& password, const QStringList& members)
{
    Operator op;
    op.folder = folder;
    op.user = user;
    op.password = password;
    op.onProgress = [](DialogProgressBar* progress) { progress->setResetWaitTickInterval(1); };
    MainWindow w;
    w.show();
    child<QLineEdit>(w, "IPAddressWriteSpace")->setText(address);
    child<QPushButton>(w, "IPAddressButton")->click();
    QVERIFY(QTest::qWaitFor([&] { return w.mw_ReqCamIndex == 11; }, 5000));
    child<QToolButton>(w, "VerUpFileButton")->click();
    for (const Component& c : kComponents)
        child<QCheckBox>(w, c.checkBox)->setChecked(members.contains(QLatin1String(c.member)));
    child<QPushButton>(w, "VersionUp_Button")->click();
    QCOMPARE(op.texts(), QStringList{"Process has been completed successfully."});
}

#endif
