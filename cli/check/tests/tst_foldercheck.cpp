#include "launch/foldercheck.h"

#include "camera/caminfo.h"
#include "firmware/listfile.h"
#include "sim/samplefolder.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// A generated folder, then changed by edits to its list file and by file operations:
// "rm NAME", "empty NAME", "mkdir NAME", "mv A B", "append NAME" (one byte more), "seal"
// (SHA256SUMS written as --write-sums writes it), "unlist NAME" (its line taken out of it).
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
        QByteArray ini = f.open(QIODevice::ReadWrite) ? f.readAll() : QByteArray();
        const bool found = ini.contains(from);
        ini.replace(from, to);
        return found && f.resize(0) && f.seek(0) && f.write(ini) == ini.size();
    }
    bool apply(const QString& op)
    {
        const QStringList w = op.split(QLatin1Char(' '));
        QDir dir(path());
        if (w[0] == u"seal")
            return writeSumsFor(path()).exitCode() == 0;
        if (w[0] == u"append" || w[0] == u"unlist") {
            QFile f(dir.filePath(w[0] == u"append" ? w[1] : QLatin1String(kSumsFileName)));
            QList<QByteArray> lines = f.open(QIODevice::ReadWrite) ? f.readAll().split('\n') : QList<QByteArray>();
            lines.removeIf([&](const QByteArray& line) { return w[0] == u"unlist" && line.endsWith("  " + w[1].toUtf8()); });
            const QByteArray bytes = lines.join('\n') + (w[0] == u"append" ? "x" : "");
            return f.resize(0) && f.seek(0) && f.write(bytes) == bytes.size();
        }
        return w[0] == u"rm" ? dir.remove(w[1])
            : w[0] == u"empty" ? QFile::resize(dir.filePath(w[1]), 0)
            : w[0] == u"mkdir" ? (!dir.exists(w[1]) || dir.remove(w[1])) && dir.mkdir(w[1])
                               : w[0] == u"mv" && dir.rename(w[1], w[2]);
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

// Every `from` in the list file replaced by `to`, then the operations; what must be reported.
// An empty folder: generated with the written sections (none: all). Choices for models 1..12.
struct Clean { QString folder; QList<int> written; int model; QString choices; };
struct Breakage { int model; QByteArray from, to; QStringList ops, problems; };

} // namespace

Q_DECLARE_METATYPE(Clean)
Q_DECLARE_METATYPE(Breakage)

class TestFolderCheck : public QObject
{
    Q_OBJECT

private slots:
    // The shared code traces every step; the tests only want their own failures.
    void initTestCase() { QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false")); }

    void clean_data()
    {
        QTest::addColumn<Clean>("c");
        QStringList own;  // every model its own section
        for (int model = kFirstModelId; model <= kLastModelId; ++model)
            own << QLatin1String(sampleSectionName(model));
        QTest::newRow("generated, every section") << Clean{{}, {}, 0, own.join(u',')};
        // The shipped samples are the generated folder (tst_samplefolder): once is enough.
        QTest::newRow("shipped samples") << Clean{QStringLiteral(KELVORA_SHIPPED_SAMPLES), {}, 0, own.join(u',')};
        // A folder for some models only is a sound folder.
        QTest::newRow("only TKD7_H") << Clean{{}, {3}, 0, "TKD7_H,,TKD7_H,,,,,,,,,"};
        QTest::newRow("only TK10") << Clean{{}, {1}, 0, "TK10,TK10,TK10,,,,,,,,,"};
        QTest::newRow("only new TK20 S") << Clean{{}, {7}, 0, ",,,,,,TK20S_NEWFPGA,,,,,"};
        for (int model = kFirstModelId; model <= kLastModelId; ++model)
            QTest::addRow("generated for %d", model) << Clean{{}, {}, model, {}};
    }

    void clean()
    {
        QFETCH(Clean, c);
        Folder generated(std::vector<int>(c.written.begin(), c.written.end()));
        const FolderCheck check = checkFolder(c.folder.isEmpty() ? generated.path() : c.folder, c.model);
        QCOMPARE(describe(check), QStringList());
        QCOMPARE(check.exitCode(), 0);
        // Each section is judged for the model it is prepared for (or the one asked for).
        QList<int> owners = c.model ? QList<int>{c.model} : c.written;
        for (int m = kFirstModelId; !c.model && c.written.isEmpty() && m <= kLastModelId; ++m)
            owners << m;
        QCOMPARE(int(check.sections.size()), owners.size());
        for (const CheckedSection& s : check.sections) {
            const int owner = owners[int(&s - &check.sections.front())];
            QVERIFY(s.usable && s.checkedModel == owner);
            QCOMPARE(s.name, modelSections(owner).candidates.first());
            // Upload steps follow vupno, 1..n without gaps, as the tool's plan orders them.
            auto byStep = s.components;
            std::sort(byStep.begin(), byStep.end(), [](auto& a, auto& b) { return a.uploadStep < b.uploadStep; });
            for (std::size_t i = 0; i < byStep.size(); ++i)
                QVERIFY(byStep[i].uploadStep == int(i) + 1 && (i == 0 || byStep[i - 1].file.Vupno < byStep[i].file.Vupno));
        }
        QStringList chosen;
        for (const ModelChoice& choice : check.choices)
            chosen << choice.section;
        if (!c.model)
            QCOMPARE(chosen.join(u','), c.choices);
    }

    void problem_data()
    {
        QTest::addColumn<Breakage>("b");
        const auto row = [](const char* name, const char* from, const char* to, const QStringList& ops,
                            const QStringList& problems, int model = 0) {
            QTest::newRow(name) << Breakage{model, from, to, ops, problems};
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
        row("file outside the folder", "cam_cpu=tk300_cam_cpu_V0150.bin", "cam_cpu=/etc/hostname", {},
            {"TK300|cam_cpu|/etc/hostname|file-outside-folder", "TK300|cam_cpu|/etc/hostname|extension",
             "TK300|cam_cpu|/etc/hostname|file-section"});
        row("shared file missing, once per section", "", "", {"rm tkd7_cam_cpu_V0220.bin"},
            {"TKD7_S|cam_cpu|tkd7_cam_cpu_V0220.bin|file-missing", "TKD7_H|cam_cpu|tkd7_cam_cpu_V0220.bin|file-missing"});
        row("no type code", "V0130.sif", "V0130.xyz", {"mv tk300_interface_cpu_V0130.sif tk300_interface_cpu_V0130.xyz"},
            {"TK300|interface_cpu|tk300_interface_cpu_V0130.xyz|extension"});
        row("no upload form on TK10", "tk10_servo_cpu_V0115.bin", "tk10_servo_cpu_V0115.spt",
            {"mv tk10_servo_cpu_V0115.bin tk10_servo_cpu_V0115.spt"},
            {"TK10|servo_cpu|tk10_servo_cpu_V0115.spt|upload-form"});
        row("version missing", "V0150.bin]\nversion=V01.50\n", "V0150.bin]\n", {}, {"TK300|cam_cpu|tk300_cam_cpu_V0150.bin|version-form"});
        row("version form, in range", "version=V01.25", "version=V01.2", {},
            {"TK10|cam_cpu|tk10_cam_cpu_V0125.bin|version-form"});
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
             "TKD7_S|backend_fpga|tkd7s_backend_fpga_V0135.bin|version-refused"}, 1);
        row("no section for the model", "[TK300]", "[TK3000]", {}, {"|||model-refused"}, 4);
        // A sealed folder: what the run would refuse to send.
        row("bytes differ from SHA256SUMS", "", "", {"seal", "append tk300_interface_cpu_V0130.sif"},
            {"TK300|interface_cpu|tk300_interface_cpu_V0130.sif|sum-differs"});
        row("shared file differs, once per section", "", "", {"seal", "append tkd7_cam_cpu_V0220.bin"},
            {"TKD7_S|cam_cpu|tkd7_cam_cpu_V0220.bin|sum-differs", "TKD7_H|cam_cpu|tkd7_cam_cpu_V0220.bin|sum-differs"});
        row("not in SHA256SUMS", "", "", {"seal", "unlist tk10_front_fpga_V0115.bin"},
            {"TK10|front_fpga|tk10_front_fpga_V0115.bin|sum-missing"});
        row("missing and not in SHA256SUMS", "", "", {"seal", "unlist tk10_front_fpga_V0115.bin", "rm tk10_front_fpga_V0115.bin"},
            {"TK10|front_fpga|tk10_front_fpga_V0115.bin|file-missing", "TK10|front_fpga|tk10_front_fpga_V0115.bin|sum-missing"});
        row("SHA256SUMS malformed", "", "", {"seal", "append SHA256SUMS"}, {"||SHA256SUMS|sums-unreadable"});
    }

    void problem()
    {
        QFETCH(Breakage, b);
        Folder folder;
        QVERIFY(b.from.isEmpty() || folder.edit(b.from, b.to));
        for (const QString& op : b.ops)
            QVERIFY2(folder.apply(op), qPrintable(op));
        const FolderCheck check = checkFolder(folder.path(), b.model);
        QCOMPARE(describe(check), b.problems);
        QCOMPARE(check.exitCode(), 1);
        for (const CheckProblem& p : check.problems)
            QVERIFY(!p.message.isEmpty());
    }

    void executable_data()
    {
        QTest::addColumn<QStringList>("args");  // "DIR" stands for the folder
        QTest::addColumn<int>("exitCode");      // 1: tk10_front_fpga_V0115.bin removed
        QTest::addColumn<QString>("out");       // a line stdout holds
        QTest::newRow("clean") << QStringList{"DIR"} << 0 << "No problems found.";
        QTest::newRow("problem line") << QStringList{"DIR"} << 1
                                      << "  [TK10] front_fpga tk10_front_fpga_V0115.bin: does not exist in the folder";
        QTest::newRow("json") << QStringList{"--json", "DIR"} << 1 << QString();
        QTest::newRow("json, unreadable") << QStringList{"--json", "DIR/none"} << 2 << QString();
        QTest::newRow("one model") << QStringList{"--model", "QV_NEW_TK15_H", "DIR"} << 0 << "  QV_NEW_TK15_H   [TK15H_NEWFPGA]";
        QTest::newRow("does not exist") << QStringList{"DIR/none"} << 2 << QString();
        // The model as the list file and the simulator write it, and as the window shows it.
        QTest::newRow("one model, list file's name") << QStringList{"--model", "TK300", "DIR"} << 0 << "  QV_TK300        [TK300]";
        QTest::newRow("one model, window's name") << QStringList{"--model", "qv-tkd7s", "DIR"} << 0 << "  QV_TKD7_S       [TKD7_S]";
        QTest::newRow("unknown model") << QStringList{"--model", "QV_TK99", "DIR"} << 2 << QString();
        QTest::newRow("window's name of two models") << QStringList{"--model", "QV-TK20S", "DIR"} << 2 << QString();
        QTest::newRow("help") << QStringList{"--help"} << 0 << "  QV_OLD_TK20_S (QV-TK20S)";
        QTest::newRow("write sums") << QStringList{"--write-sums", "DIR"} << 0 << "Wrote DIR/SHA256SUMS for 43 files:";
        QTest::newRow("write sums, file missing") << QStringList{"--write-sums", "DIR"} << 1
                                                  << "  [TK10] front_fpga tk10_front_fpga_V0115.bin: does not exist in the folder";
        QTest::newRow("write sums, json") << QStringList{"--write-sums", "--json", "DIR"} << 2 << QString();
    }

    void executable()
    {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QString, out);
        Folder folder;
        QVERIFY(exitCode != 1 || folder.apply(QStringLiteral("rm tk10_front_fpga_V0115.bin")));
        for (QString& a : args)
            a.replace(QLatin1String("DIR"), folder.path());
        out.replace(QLatin1String("DIR"), folder.path());
        QProcess p;
        p.start(QStringLiteral(KELVORA_CHECK_EXE), args);
        QVERIFY(p.waitForFinished(20000) && p.exitStatus() == QProcess::NormalExit);
        QCOMPARE(p.exitCode(), exitCode);
        const QString stdOut = QString::fromUtf8(p.readAllStandardOutput());
        const QString stdErr = QString::fromUtf8(p.readAllStandardError());
        QVERIFY2(!(stdOut + stdErr).contains(QLatin1String("■DEBUG■")), "debug trace leaked");
        QVERIFY2(out.isEmpty() || stdOut.split(QLatin1Char('\n')).contains(out), qPrintable(stdOut));
        if (args.contains(QLatin1String("--write-sums"))) {
            // Written whole or not at all; what is written, sha256sum accepts and seals a clean folder.
            QCOMPARE(QFile::exists(sumsFilePath(folder.path())), exitCode == 0);
            if (exitCode != 0)
                return;
            QProcess sums;
            sums.setWorkingDirectory(folder.path());
            sums.start(QStringLiteral("sha256sum"), {QStringLiteral("-c"), QStringLiteral("--strict"), QLatin1String(kSumsFileName)});
            QVERIFY(sums.waitForFinished(20000) && sums.exitStatus() == QProcess::NormalExit && sums.exitCode() == 0);
            QCOMPARE(describe(checkFolder(folder.path())), QStringList());
            return;
        }
        if (!args.contains(QLatin1String("--json"))) {
            QVERIFY(exitCode != 2 || (stdOut.isEmpty() && !stdErr.isEmpty()));
            return;
        }
        const QJsonObject json = QJsonDocument::fromJson(stdOut.toUtf8()).object();
        QCOMPARE(json[u"exitCode"].toInt(-1), exitCode);
        QCOMPARE(json[u"readable"].toBool(), exitCode != 2);
        QStringList fields;
        for (const QJsonValue p : json[u"problems"].toArray()) {
            for (const char* key : {"section", "component", "file", "kind"})
                fields << p[QLatin1String(key)].toString();
        }
        QCOMPARE(fields.join(u'|'), exitCode == 1 ? QStringLiteral("TK10|front_fpga|tk10_front_fpga_V0115.bin|file-missing")
                                                  : QString());
        QVERIFY(exitCode != 1 || (json[u"sections"].toArray().size() == 12 && json[u"choices"].toArray().size() == 12));
    }
};

QTEST_GUILESS_MAIN(TestFolderCheck)
#include "tst_foldercheck.moc"
