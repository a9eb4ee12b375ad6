// A firmware folder's verup_list.ini of any bytes: the model section walk for every model
// identifier, the component reading that follows an accepted section, and the folder
// checker over the same folder. The checker must choose what the tool chooses.
//
// Input: the model the checker is asked about, then the list file's bytes.
#include "launch/foldercheck.h"
#include "camera/caminfo.h"
#include "firmware/listfile.h"
#include "fuzz/fuzzsupport.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

namespace {

// QSettings keeps a parsed list file cached by path and reads it again only when its size
// or modification time differs. One folder serves every input (a new path per input would
// grow the cache, and libFuzzer would scan for leaks after each input); each input's file
// gets a modification time of its own, so it is always read afresh.
QString writeListFile(const QByteArray& bytes)
{
    static QTemporaryDir root(QDir::tempPath() + QStringLiteral("/kelvora-fuzz-listfile-XXXXXX"));
    static qint64 count = 0;
    FUZZ_CHECK(root.isValid());
    QFile file(listFilePath(root.path()));
    FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size());
    FUZZ_CHECK(file.setFileTime(QDateTime::fromSecsSinceEpoch(1000000000 + ++count, Qt::UTC),
                                QFileDevice::FileModificationTime));
    return root.path();
}

void checkComponents(QSettings& settings)
{
    vup_file_info set;
    readComponentFiles(&settings, &set);
    FUZZ_CHECK(settings.group().isEmpty());
    FUZZ_CHECK(set.DirPath.isEmpty() && set.Base64.isEmpty() && set.Model == 0);
    for (const Component& c : kComponents) {
        const file_info& file = set.*c.field;
        FUZZ_CHECK(file.Select == RMOCAM_FALSE);
        const FileSection section = readFileSection(&settings, file.FileName);
        FUZZ_CHECK(settings.group().isEmpty());
        FUZZ_CHECK(file.Version == section.version);
        qint32 vupno = -1;
        const bool number = parseVupno(section.vupno, &vupno) == 0;
        FUZZ_CHECK(file.Vupno == vupno && (number || vupno == 0));
    }
}

// The section the tool accepts for `model`, or empty; checks the walk on the way.
QString walk(QSettings& settings, int model)
{
    QString accepted;
    const int result = searchModelSection(&settings, model, &accepted);
    const QStringList candidates = modelSections(model).candidates;
    if (result != 0) {
        FUZZ_CHECK(result == 1 && settings.group().isEmpty() && accepted.isEmpty());
        for (const QString& section : candidates)
            FUZZ_CHECK(!modelSectionUsable(&settings, section));
        return {};
    }
    FUZZ_CHECK(isValidModelId(model));
    FUZZ_CHECK(candidates.contains(accepted) && settings.group() == accepted);
    settings.endGroup();
    // The first usable candidate, and only a usable one.
    for (const QString& section : candidates) {
        const bool usable = modelSectionUsable(&settings, section);
        FUZZ_CHECK(settings.group().isEmpty());
        if (section == accepted) {
            FUZZ_CHECK(usable);
            break;
        }
        FUZZ_CHECK(!usable);
    }
    settings.beginGroup(accepted);
    checkComponents(settings);
    return accepted;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::silenceLog();
    fuzz::Input in(data, size);
    const int askedModel = in.byte() % 13;  // 0: every section
    const QByteArray list = in.rest();

    const QString folder = writeListFile(list);

    QStringList accepted;
    {
        QSettings settings(listFilePath(folder), QSettings::IniFormat);
        for (int model = -1; model <= kLastModelId + 1; ++model) {
            const QString section = walk(settings, model);
            if (isValidModelId(model))
                accepted << section;
        }
        // Reading twice gives the same choice.
        for (int model = kFirstModelId; model <= kLastModelId; ++model)
            FUZZ_CHECK(walk(settings, model) == accepted.at(model - kFirstModelId));
    }

    const FolderCheck check = checkFolder(folder, askedModel);
    FUZZ_CHECK(check.readable && check.exitCode() != 2);
    FUZZ_CHECK(check.choices.size() == (askedModel == 0 ? std::size_t(kLastModelId) : 1u));
    for (const ModelChoice& choice : check.choices)
        FUZZ_CHECK(choice.section == accepted.at(choice.model - kFirstModelId));
    for (const CheckedSection& section : check.sections) {
        for (const CheckedComponent& c : section.components)
            FUZZ_CHECK(c.component >= 0 && c.component < kComponentCount && !c.file.FileName.isEmpty());
    }
    for (const CheckProblem& problem : check.problems)
        FUZZ_CHECK(!problemKindName(problem.kind).isEmpty() && !problem.message.isEmpty());

    return 0;
}
