#include "app/check/foldercheck.h"

#include "camera/caminfo.h"
#include "firmware/listfile.h"
#include "sim/samplefolder.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QtMessageHandler previousHandler = nullptr;
// The shared code traces every step; the tests only want their own failures.
void dropDebug(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type != QtDebugMsg && previousHandler)
        previousHandler(type, context, message);
}

// A generated folder, then changed by edits to its list file and by file operations:
// "rm NAME", "empty NAME", "mkdir NAME", "mv A B".
struct Folder {
    QTemporaryDir tmp;
    QString path() const { return tmp.path(); }

    explicit Folder(const std::vector<int>& models = {})
    {
        SampleOptions options;
        options.models = models;
        if (!writeSampleFolder(tmp.path().toStdString(), options))
            qFatal("cannot write the sample folder");
    }
    bool edit(const QByteArray& from, const QByteArray& to)
    {
        QFile f(listFilePath(path()));
        QByteArray ini = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        f.close();
        if (!ini.contains(from))
            return false;
        ini.replace(from, to);
        return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(ini) == ini.size();
    }
    bool apply(const QString& op)
    {
        const QStringList w = op.split(QLatin1Char(' '));
        QDir dir(path());
        if (w[0] == QLatin1String("rm"))
            return dir.remove(w[1]);
        if (w[0] == QLatin1String("empty"))
            return QFile::resize(dir.filePath(w[1]), 0);
        if (w[0] == QLatin1String("mkdir"))
            return (!dir.exists(w[1]) || dir.remove(w[1])) && dir.mkdir(w[1]);
        return w[0] == QLatin1String("mv") && dir.rename(w[1], w[2]);
    }
};

// "section|component|file|kind", list-file problems with empty section and component.
QStringList describe(const FolderCheck& check)
{
    QStringList out;
    for (const CheckProblem& p : check.problems) {
        const QString component = p.component >= 0 ? QLatin1String(kComponents[std::size_t(p.component)].key) : QString();
        out << QStringList{p.section, component, p.file, problemKindName(p.kind)}.join(QLatin1Char('|'));
    }
    return out;
}

} // namespace

class TestFolderCheck : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { previousHandler = qInstallMessageHandler(dropDebug); }
    void cleanupTestCase() { qInstallMessageHandler(previousHandler); }

    void clean_data()
    {
        QTest::addColumn<QString>("folder");  // empty: a generated one
        QTest::addColumn<int>("model");
        QTest::newRow("generated, every section") << QString() << 0;
        // The shipped samples are the generated folder (tst_samplefolder): once is enough.
        QTest::newRow("shipped samples, every section") << QStringLiteral(KELVORA_SHIPPED_SAMPLES) << 0;
        for (int model = kFirstModelId; model <= kLastModelId; ++model)
            QTest::addRow("generated for %d", model) << QString() << model;
    }

    void clean()
    {
        QFETCH(QString, folder);
        QFETCH(int, model);
        Folder generated;
        const FolderCheck check = checkFolder(folder.isEmpty() ? generated.path() : folder, model);
        QCOMPARE(describe(check), QStringList());
        QCOMPARE(check.exitCode(), 0);
        QCOMPARE(check.sections.size(), std::size_t(model ? 1 : 12));
        for (const CheckedSection& s : check.sections) {
            QVERIFY(s.usable);
            // Each section is judged for the model it is prepared for (or the one asked for).
            const int owner = model ? model : kFirstModelId + int(&s - &check.sections.front());
            QCOMPARE(s.checkedModel, owner);
            QCOMPARE(s.name, modelSections(owner).candidates.first());
            // Upload steps follow vupno, 1..n without gaps, as the tool's plan orders them.
            QList<int> steps;
            for (const CheckedComponent& c : s.components) {
                for (const CheckedComponent& d : s.components)
                    QVERIFY((c.file.Vupno < d.file.Vupno) == (c.uploadStep < d.uploadStep));
                steps << c.uploadStep;
            }
            std::sort(steps.begin(), steps.end());
            for (int i = 0; i < steps.size(); ++i)
                QCOMPARE(steps[i], i + 1);
        }
    }

    void problem_data()
    {
        QTest::addColumn<int>("model");
        QTest::addColumn<QByteArray>("from");  // list-file text to replace, every occurrence
        QTest::addColumn<QByteArray>("to");
        QTest::addColumn<QStringList>("ops");
        QTest::addColumn<QStringList>("problems");
        const auto row = [](const char* name, const char* from, const char* to, const QStringList& ops,
                            const QStringList& problems, int model = 0) {
            QTest::newRow(name) << model << QByteArray(from) << QByteArray(to) << ops << problems;
        };
        row("list file missing", "", "", {"rm verup_list.ini"}, {"|||list-file"});
        row("list file is a folder", "", "", {"mkdir verup_list.ini"}, {"|||list-file"});
        row("broken section header", "[TK300]\n", "[TK300\n", {}, {"|||list-file"});
        row("no model section", "[TK", "[XX", {}, {"|||no-model-section"});
        row("cam_cpu missing", "cam_cpu=tk300_cam_cpu_V0150.bin\n", "", {}, {"TK300|cam_cpu||cam-cpu"});
        row("cam_cpu NONE", "cam_cpu=tk10_cam_cpu_V0125.bin\n", "cam_cpu=NONE\n", {}, {"TK10|cam_cpu||cam-cpu"});
        row("file missing", "", "", {"rm tk10_front_fpga_V0115.bin"},
            {"TK10|front_fpga|tk10_front_fpga_V0115.bin|file-missing"});
        row("file empty", "", "", {"empty tk300_interface_cpu_V0130.sif"},
            {"TK300|interface_cpu|tk300_interface_cpu_V0130.sif|file-empty"});
        row("file is a folder", "", "", {"mkdir tk20old_s_backend_fpga_V0140.fbe"},
            {"TK20S_OLDFPGA|backend_fpga|tk20old_s_backend_fpga_V0140.fbe|file-unreadable"});
        row("shared file missing, once per section", "", "", {"rm tkd7_cam_cpu_V0220.bin"},
            {"TKD7_S|cam_cpu|tkd7_cam_cpu_V0220.bin|file-missing", "TKD7_H|cam_cpu|tkd7_cam_cpu_V0220.bin|file-missing"});
        row("no type code", "V0130.sif", "V0130.xyz", {"mv tk300_interface_cpu_V0130.sif tk300_interface_cpu_V0130.xyz"},
            {"TK300|interface_cpu|tk300_interface_cpu_V0130.xyz|extension"});
        row("upper-case type", "V0470.scm", "V0470.SCM", {"mv tk15new_s_cam_cpu_V0470.scm tk15new_s_cam_cpu_V0470.SCM"},
            {"TK15S_NEWFPGA|cam_cpu|tk15new_s_cam_cpu_V0470.SCM|extension"});
        row("no upload form on TK10", "tk10_servo_cpu_V0115.bin", "tk10_servo_cpu_V0115.spt",
            {"mv tk10_servo_cpu_V0115.bin tk10_servo_cpu_V0115.spt"},
            {"TK10|servo_cpu|tk10_servo_cpu_V0115.spt|upload-form"});
        row("version form, in range", "version=V01.25", "version=V01.2", {},
            {"TK10|cam_cpu|tk10_cam_cpu_V0125.bin|version-form"});
        row("version form, unconstrained", "tk300_interface_eeprom_V0110.eep]\nversion=V01.10",
            "tk300_interface_eeprom_V0110.eep]\nversion=1.10", {},
            {"TK300|interface_eeprom|tk300_interface_eeprom_V0110.eep|version-form"});
        row("version missing", "V0150.bin]\nversion=V01.50\n", "V0150.bin]\n", {},
            {"TK300|cam_cpu|tk300_cam_cpu_V0150.bin|version-form"});
        row("file section missing", "[tk10_backend_fpga_V0120.bin]\nversion=V01.20\nvupno=3\n", "", {},
            {"TK10|backend_fpga|tk10_backend_fpga_V0120.bin|file-section"});
        row("vupno missing", "version=V01.35\nvupno=9\n", "version=V01.35\n", {},
            {"TK10|network_cpu|tk10_network_cpu_V0135.img|vupno-missing"});
        row("vupno not a number", "version=V01.35\nvupno=9\n", "version=V01.35\nvupno=x1\n", {},
            {"TK10|network_cpu|tk10_network_cpu_V0135.img|vupno-not-number"});
        row("vupno zero", "version=V01.35\nvupno=9\n", "version=V01.35\nvupno=0\n", {},
            {"TK10|network_cpu|tk10_network_cpu_V0135.img|vupno-zero"});
        row("vupno shared", "version=V01.15\nvupno=2\n", "version=V01.15\nvupno=1\n", {},
            {"TK10|front_fpga|tk10_front_fpga_V0115.bin|vupno-shared"});
        row("file named twice", "servo_cpu=tk10_servo_cpu_V0115.bin", "servo_cpu=tk10_front_fpga_V0115.bin", {},
            {"TK10|front_fpga|tk10_front_fpga_V0115.bin|file-repeated"});
        // Each section is judged for the model whose first candidate it is.
        row("TK10 range", "version=V01.20\nvupno=3", "version=V01.30\nvupno=3", {},
            {"TK10|backend_fpga|tk10_backend_fpga_V0120.bin|version-refused"});
        row("TK20S_OLDFPGA judged as model 5", "tk20old_s_backend_fpga_V0140.fbe]\nversion=V01.40",
            "tk20old_s_backend_fpga_V0140.fbe]\nversion=V01.60", {},
            {"TK20S_OLDFPGA|backend_fpga|tk20old_s_backend_fpga_V0140.fbe|version-refused"});
        // One model: the tool's walk, and the versions judged for that model.
        row("TK10 falls back to TKD7_S", "cam_cpu=tk10_cam_cpu_V0125.bin\n", "cam_cpu=NONE\n", {},
            {"TK10|cam_cpu||cam-cpu", "TKD7_S|cam_cpu|tkd7_cam_cpu_V0220.bin|version-refused",
             "TKD7_S|backend_fpga|tkd7s_backend_fpga_V0135.bin|version-refused"},
            1);
        row("TKD7_H falls back to TK10", "[TKD7_H]\ncam_cpu=tkd7_cam_cpu_V0220.bin\n", "[TKD7_H]\n", {},
            {"TKD7_H|cam_cpu||cam-cpu", "TK10|cam_cpu|tk10_cam_cpu_V0125.bin|version-refused",
             "TK10|backend_fpga|tk10_backend_fpga_V0120.bin|version-refused"},
            3);
        row("no section for the model", "[TK300]", "[TK3000]", {}, {"|||model-refused"}, 4);
        row("other sections do not matter", "[TK10]\ncam_cpu=tk10_cam_cpu_V0125.bin\n", "[TK10]\n", {}, {}, 4);
    }

    void problem()
    {
        QFETCH(int, model);
        QFETCH(QByteArray, from);
        QFETCH(QByteArray, to);
        QFETCH(QStringList, ops);
        QFETCH(QStringList, problems);
        Folder folder;
        if (!from.isEmpty())
            QVERIFY(folder.edit(from, to));
        for (const QString& op : ops)
            QVERIFY2(folder.apply(op), qPrintable(op));
        const FolderCheck check = checkFolder(folder.path(), model);
        QCOMPARE(describe(check), problems);
        QCOMPARE(check.exitCode(), problems.isEmpty() ? 0 : 1);
        for (const CheckProblem& p : check.problems)
            QVERIFY(!p.message.isEmpty());
    }

    void choices_data()
    {
        QTest::addColumn<QList<int>>("models");     // sections written
        QTest::addColumn<QStringList>("choices");   // for models 1..12, empty: refused
        QStringList own;  // every model its own section
        for (int model = kFirstModelId; model <= kLastModelId; ++model)
            own << QLatin1String(sampleSectionName(model));
        QTest::newRow("all") << QList<int>{} << own;
        QTest::newRow("only TKD7_H") << QList<int>{3} << QStringList{"TKD7_H", "", "TKD7_H", "", "", "", "", "", "", "", "", ""};
        QTest::newRow("only TK10") << QList<int>{1} << QStringList{"TK10", "TK10", "TK10", "", "", "", "", "", "", "", "", ""};
        QTest::newRow("new TK20 S only") << QList<int>{7} << QStringList{"", "", "", "", "", "", "TK20S_NEWFPGA", "", "", "", "", ""};
    }

    void choices()
    {
        QFETCH(QList<int>, models);
        QFETCH(QStringList, choices);
        Folder folder(std::vector<int>(models.begin(), models.end()));
        const FolderCheck check = checkFolder(folder.path());
        QStringList got;
        for (const ModelChoice& c : check.choices)
            got << c.section;
        QCOMPARE(got, choices);
        // A folder for some models only is a sound folder.
        QCOMPARE(describe(check), QStringList());
        QCOMPARE(check.sections.size(), std::size_t(models.isEmpty() ? 12 : models.size()));
    }

    void executable_data()
    {
        QTest::addColumn<QStringList>("args");  // "DIR" stands for the folder
        QTest::addColumn<bool>("broken");       // tk10_front_fpga_V0115.bin removed
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("out");       // a line stdout holds
        QTest::newRow("clean") << QStringList{"DIR"} << false << 0 << "No problems found.";
        QTest::newRow("clean, one model") << QStringList{"--model", "QV_NEW_TK15_H", "DIR"} << false << 0 << "  QV_NEW_TK15_H   [TK15H_NEWFPGA]";
        QTest::newRow("problem line") << QStringList{"DIR"} << true << 1
                                      << "  [TK10] front_fpga tk10_front_fpga_V0115.bin: does not exist in the folder";
        QTest::newRow("json") << QStringList{"--json", "DIR"} << true << 1 << QString();
        QTest::newRow("json, unreadable") << QStringList{"--json", "DIR/none"} << false << 2 << QString();
        QTest::newRow("does not exist") << QStringList{"DIR/none"} << false << 2 << QString();
        QTest::newRow("not a folder") << QStringList{"DIR/verup_list.ini"} << false << 2 << QString();
        QTest::newRow("unknown model") << QStringList{"--model", "QV_TK99", "DIR"} << false << 2 << QString();
        QTest::newRow("no folder") << QStringList{} << false << 2 << QString();
        QTest::newRow("help") << QStringList{"--help"} << false << 0 << "  QV_OLD_TK20_S (QV-TK20S)";
    }

    void executable()
    {
        QFETCH(QStringList, args);
        QFETCH(bool, broken);
        QFETCH(int, exitCode);
        QFETCH(QString, out);
        Folder folder;
        if (broken)
            QVERIFY(folder.apply(QStringLiteral("rm tk10_front_fpga_V0115.bin")));
        for (QString& a : args)
            a.replace(QLatin1String("DIR"), folder.path());
        QProcess p;
        p.start(QStringLiteral(KELVORA_CHECK_EXE), args);
        QVERIFY(p.waitForFinished(20000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), exitCode);
        const QString stdOut = QString::fromUtf8(p.readAllStandardOutput());
        const QString stdErr = QString::fromUtf8(p.readAllStandardError());
        QVERIFY2(!stdOut.contains(QLatin1String("■DEBUG■")) && !stdErr.contains(QLatin1String("■DEBUG■")), "debug trace leaked");
        if (!out.isEmpty())
            QVERIFY2(stdOut.split(QLatin1Char('\n')).contains(out), qPrintable(stdOut));
        if (exitCode == 2 && !args.contains(QLatin1String("--json")))
            QVERIFY(stdOut.isEmpty() && !stdErr.isEmpty());
        if (!args.contains(QLatin1String("--json")))
            return;
        QJsonParseError error{};
        const QJsonObject json = QJsonDocument::fromJson(stdOut.toUtf8(), &error).object();
        QCOMPARE(error.error, QJsonParseError::NoError);
        QCOMPARE(json.value(QLatin1String("exitCode")).toInt(), exitCode);
        QCOMPARE(json.value(QLatin1String("readable")).toBool(), exitCode != 2);
        const QJsonArray problems = json.value(QLatin1String("problems")).toArray();
        QCOMPARE(problems.size(), exitCode == 1 ? 1 : 0);
        if (exitCode == 1) {
            const QJsonObject p0 = problems.first().toObject();
            QStringList fields;
            for (const char* key : {"section", "component", "file", "kind"})
                fields << p0.value(QLatin1String(key)).toString();
            QCOMPARE(fields, (QStringList{"TK10", "front_fpga", "tk10_front_fpga_V0115.bin", "file-missing"}));
            QCOMPARE(json.value(QLatin1String("sections")).toArray().size(), 12);
            QCOMPARE(json.value(QLatin1String("choices")).toArray().size(), 12);
        }
    }
};

QTEST_GUILESS_MAIN(TestFolderCheck)
#include "tst_foldercheck.moc"
