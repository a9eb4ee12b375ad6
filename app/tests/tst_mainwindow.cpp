#include "app/mainwindow.h"
#include "tests/support/operator.h"

#include <QMenuBar>
#include <QSignalSpy>
#include <QtTest>

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void fixedWindow()
    {
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QCOMPARE(w.windowTitle(), QStringLiteral("Kelvora"));
        QCOMPARE(w.minimumSize(), QSize(800, 600));
        QCOMPARE(w.maximumSize(), QSize(800, 600));
        w.resize(1024, 768);
        QCOMPARE(w.size(), QSize(800, 600));
        QCOMPARE(w.font().family(), QStringLiteral("Verdana"));
        QCOMPARE(w.font().pointSize(), 10);
        // An ideographic space, not an ASCII one, that no editor shows.
        QCOMPARE(child<QLabel>(w, "label")->text(), QStringLiteral("Camera\u3000Information"));
    }

    // Cameras > Many Cameras... asks for the many-camera window; nothing of the window itself moves.
    void manyCamerasMenu()
    {
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const QList<QAction*> menus = w.menuBar()->actions();
        QCOMPARE(menus.size(), 1);
        QCOMPARE(menus.first()->text(), QStringLiteral("Cameras"));
        const QList<QAction*> items = menus.first()->menu()->actions();
        QCOMPARE(items.size(), 1);
        QCOMPARE(items.first()->text(), QStringLiteral("Many Cameras..."));
        QCOMPARE(items.first()->shortcut(), QKeySequence(QStringLiteral("Ctrl+M")));
        QSignalSpy asked(&w, &MainWindow::manyCamerasRequested);
        QTest::keyClick(&w, Qt::Key_M, Qt::ControlModifier);
        QCOMPARE(asked.count(), 1);
        // Every widget of the window still shows whole inside it.
        const QRect inside = w.centralWidget()->rect();
        for (const char* name : {"VersionUp_Button", "IPAddressButton", "VerUpFileButton"}) {
            QWidget* widget = child<QWidget>(w, name);
            const QRect r(widget->mapTo(w.centralWidget(), QPoint(0, 0)), widget->size());
            QVERIFY2(inside.contains(r), name);
        }
    }

    void cleared_data()
    {
        QTest::addColumn<bool>("reset");
        QTest::newRow("new window, records left over") << false;
        QTest::newRow("reset after use") << true;
    }

    void cleared()
    {
        QFETCH(bool, reset);
        mw_Qid = CAM_QID_TK300;
        mw_VupFileInfo.DirPath = QStringLiteral("/left/over");
        MainWindow w;
        const QString folder = reset ? QStringLiteral("/some/folder") : QString();
        const QString address = reset ? QStringLiteral("127.0.0.1") : QString();
        if (reset) {
            child<QLineEdit>(w, "VerUpFileWriteSpace")->setText(folder);
            child<QLineEdit>(w, "IPAddressWriteSpace")->setText(address);
            for (QLabel* l : w.findChildren<QLabel*>())
                l->setText(QStringLiteral("V09.99"));
            for (QCheckBox* b : w.findChildren<QCheckBox*>())
                b->setChecked(true);
            for (const char* name : {"VerUpFile", "VerUpFileInfoFrame"}) {
                QPalette p = child<QWidget>(w, name)->palette();
                p.setBrush(QPalette::All, QPalette::WindowText, QBrush(Qt::black));
                child<QWidget>(w, name)->setPalette(p);
            }
            w.mw_ReqCamIndex = 11;
            mw_CamInfo.ModelID = mw_VupFileInfo.Model = CAM_MODELID_QV_NEW_TK20_S;
            mw_CamInfo.Ver_CameraCPU = mw_CamInfo.Ver_CameraEEPROM = QStringLiteral("V03.60");
            mw_VupFileInfo.CamIPAddress = address;
            mw_VupFileInfo.lens_fpga = {QStringLiteral("lens.ffe"), QStringLiteral("V01.00"), 4, 1};
            w.mw_initializeAllCrear();
        }

        QCOMPARE(notCleared(w), QStringList());
        const QColor grey(0x80, 0x80, 0x80), normal = QApplication::palette().color(QPalette::WindowText);
        QVERIFY(firmwareAreaIs(w, grey));
        // The frame's labels inherit its grey; the camera frame keeps the normal colour.
        const auto colour = [&](const char* name) { return child<QWidget>(w, name)->palette().color(QPalette::WindowText); };
        QVERIFY(colour("VERUP_FPGA_LensName") == grey && colour("VERUP_Model") == grey);
        QVERIFY(colour("frame") == normal && colour("IP_ModelVer") == normal);
        QVERIFY(mw_Qid == 0 && w.mw_ReqCamIndex == 0 && mw_CamInfo.ModelID == 0 && mw_VupFileInfo.Model == 0);
        QVERIFY(mw_CamInfo.Ver_CameraCPU.isEmpty() && mw_CamInfo.Ver_CameraEEPROM.isEmpty());
        QVERIFY(mw_VupFileInfo.DirPath.isEmpty() && mw_VupFileInfo.CamIPAddress.isEmpty());
        QVERIFY(mw_VupFileInfo.lens_fpga.FileName.isEmpty() && mw_VupFileInfo.lens_fpga.Select == 0);
        // The reset leaves the two fields the operator types in alone.
        QCOMPARE(child<QLineEdit>(w, "VerUpFileWriteSpace")->text(), folder);
        QCOMPARE(child<QLineEdit>(w, "IPAddressWriteSpace")->text(), address);
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
