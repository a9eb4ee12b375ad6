// kelvora-check: finds a firmware folder's mistakes before anyone is at the camera.

#include "cli/check/checkreport.h"
#include "launch/foldercheck.h"
#include "camera/caminfo.h"
#include "kelvora/version.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

namespace {

QtMessageHandler previousHandler = nullptr;

// The shared code writes the tool's debug trace; the checker's output is its report.
void quietHandler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type != QtDebugMsg && type != QtInfoMsg && previousHandler)
        previousHandler(type, context, message);
}

QString modelList()
{
    QString out;
    for (int model = kFirstModelId; model <= kLastModelId; ++model)
        out += QStringLiteral("  %1 (%2)\n").arg(checkModelName(model), modelDisplayName(model));
    return out;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kelvora-check"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KELVORA_VERSION));
    previousHandler = qInstallMessageHandler(quietHandler);

    QTextStream out(stdout);
    QTextStream err(stderr);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Checks a firmware folder (verup_list.ini and the files it names) by the rules the tool applies,\n"
        "before anyone is at the camera. Without --model every model section of the list file is checked\n"
        "against the model it is prepared for; with --model only the section the tool would choose for it.\n"
        "A folder with a SHA256SUMS (sha256sum's format) is sealed: the tool sends only the files it lists,\n"
        "with the bytes it gives, and refuses every file when it cannot be read. The check reports each\n"
        "named file that SHA256SUMS does not list or whose bytes differ, and a SHA256SUMS it cannot use."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption modelOption(QStringLiteral("model"),
                                         QStringLiteral("Check the folder for this model only (names below)."),
                                         QStringLiteral("NAME"));
    const QCommandLineOption jsonOption(QStringLiteral("json"), QStringLiteral("Write the report as JSON."));
    const QCommandLineOption writeSumsOption(
        QStringLiteral("write-sums"),
        QStringLiteral("Instead of checking, write FOLDER/SHA256SUMS for every file the list file names, replacing "
                       "any that is there, and print its lines. Nothing is written when one of those files is "
                       "missing, outside the folder or unreadable. `sha256sum -c SHA256SUMS` accepts the file."));
    parser.addOption(modelOption);
    parser.addOption(jsonOption);
    parser.addOption(writeSumsOption);
    parser.addPositionalArgument(QStringLiteral("FOLDER"), QStringLiteral("The firmware folder."));

    const auto usageError = [&](const QString& why) {
        err << "kelvora-check: " << why << "\nTry kelvora-check --help.\n";
        return 2;
    };
    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser.errorText());
    if (parser.isSet(help)) {
        out << parser.helpText() << "\nModel names (also as the window, the simulator or a list file writes them, e.g. QV-TK300,\n"
            << "TK300, CAM_MODELID_QV_TK300, TK20S_OLDFPGA; in any case; the window's QV-TK20S and the like\n"
            << "are two models' names and name neither):\n" << modelList()
            << "\nExit status: 0 no problems, 1 problems found, 2 the folder cannot be read or bad usage.\n"
            << "With --write-sums: 0 written, 1 nothing written (a named file missing, outside the folder or\n"
            << "unreadable), 2 the folder cannot be read, SHA256SUMS cannot be written, or bad usage.\n";
        return 0;
    }
    if (parser.isSet(version)) {
        out << QCoreApplication::applicationName() << ' ' << QCoreApplication::applicationVersion() << '\n';
        return 0;
    }
    const QStringList folders = parser.positionalArguments();
    if (folders.size() != 1)
        return usageError(folders.isEmpty() ? QStringLiteral("no folder given")
                                            : QStringLiteral("one folder at a time"));
    if (parser.isSet(writeSumsOption)) {
        if (parser.isSet(modelOption) || parser.isSet(jsonOption))
            return usageError(QStringLiteral("--write-sums takes neither --model nor --json"));
        const SumsWrite write = writeSumsFor(folders.first());
        if (write.exitCode() == 2)
            err << "kelvora-check: " << sumsWriteText(write);
        else
            out << sumsWriteText(write);
        return write.exitCode();
    }
    int model = 0;
    if (parser.isSet(modelOption)) {
        QString why;
        model = modelIdFromName(parser.value(modelOption), &why);
        if (model == 0)
            return usageError(why);
    }

    const FolderCheck check = checkFolder(folders.first(), model);
    if (parser.isSet(jsonOption))
        out << QString::fromUtf8(checkReportJson(check));
    else if (!check.readable)
        err << "kelvora-check: " << checkReportText(check);
    else
        out << checkReportText(check);
    out.flush();
    err.flush();
    return check.exitCode();
}
