#include "cli/check/checkreport.h"

#include "camera/caminfo.h"
#include "firmware/listfile.h"
#include "firmware/sha256sums.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

QString keyOf(int component)
{
    return QLatin1String(kComponents[static_cast<std::size_t>(component)].key);
}

QJsonValue textOrNull(const QString& text)
{
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

QJsonValue modelOrNull(int model)
{
    return model == 0 ? QJsonValue() : QJsonValue(modelIdName(model));
}

} // namespace

QString problemLine(const CheckProblem& problem)
{
    QStringList where;
    if (!problem.section.isEmpty())
        where << QLatin1Char('[') + problem.section + QLatin1Char(']');
    else if (problem.file.isEmpty())
        where << QLatin1String(kListFileName);
    if (problem.component >= 0 && problem.component < kComponentCount)
        where << keyOf(problem.component);
    if (!problem.file.isEmpty())
        where << problem.file;
    return where.join(QLatin1Char(' ')) + QLatin1String(": ") + problem.message;
}

QString checkReportText(const FolderCheck& check)
{
    QString out;
    if (!check.readable)
        return QStringLiteral("Folder %1 %2.\n").arg(check.folder, check.error);

    out += QStringLiteral("Folder:    %1\nList file: %2\n").arg(check.folder, check.listFile);
    if (check.model != 0)
        out += QStringLiteral("Model:     %1 (%2)\n").arg(checkModelName(check.model), modelDisplayName(check.model));

    for (const CheckedSection& section : check.sections) {
        out += QStringLiteral("\n[%1]").arg(section.name);
        if (!section.usable) {
            out += QStringLiteral(" not usable\n");
            continue;
        }
        if (section.checkedModel != 0)
            out += QStringLiteral(" versions checked for %1").arg(checkModelName(section.checkedModel));
        out += QLatin1Char('\n');
        if (section.components.empty()) {
            out += QStringLiteral("  no files\n");
            continue;
        }
        int fileWidth = 4;
        for (const CheckedComponent& c : section.components)
            fileWidth = qMax(fileWidth, int(c.file.FileName.size()));
        const auto row = [&](const QString& component, const QString& file, const QString& version,
                             const QString& vupno, const QString& step) {
            out += QStringLiteral("  %1  %2  %3  %4  %5\n")
                       .arg(component, -16)
                       .arg(file, -fileWidth)
                       .arg(version, -7)
                       .arg(vupno, 5)
                       .arg(step, 4);
        };
        row(QStringLiteral("component"), QStringLiteral("file"), QStringLiteral("version"), QStringLiteral("vupno"),
            QStringLiteral("step"));
        for (const CheckedComponent& c : section.components) {
            row(keyOf(c.component), c.file.FileName, c.file.Version, QString::number(c.file.Vupno),
                c.uploadStep > 0 ? QString::number(c.uploadStep) : QStringLiteral("-"));
        }
    }

    out += check.model != 0 ? QStringLiteral("\nSection the tool would choose:\n")
                            : QStringLiteral("\nSection the tool would choose for each model:\n");
    for (const ModelChoice& choice : check.choices) {
        out += QStringLiteral("  %1  %2\n")
                   .arg(checkModelName(choice.model), -14)
                   .arg(choice.section.isEmpty() ? QStringLiteral("none: the folder is refused")
                                                 : QLatin1Char('[') + choice.section + QLatin1Char(']'));
    }

    if (check.problems.empty()) {
        out += QStringLiteral("\nNo problems found.\n");
        return out;
    }
    out += check.problems.size() == 1 ? QStringLiteral("\n1 problem:\n")
                                      : QStringLiteral("\n%1 problems:\n").arg(check.problems.size());
    for (const CheckProblem& problem : check.problems)
        out += QStringLiteral("  ") + problemLine(problem) + QLatin1Char('\n');
    return out;
}

QByteArray checkReportJson(const FolderCheck& check)
{
    QJsonObject root;
    root.insert(QStringLiteral("folder"), check.folder);
    root.insert(QStringLiteral("listFile"), textOrNull(check.listFile));
    root.insert(QStringLiteral("readable"), check.readable);
    root.insert(QStringLiteral("error"), textOrNull(check.error));
    root.insert(QStringLiteral("model"), modelOrNull(check.model));

    QJsonArray sections;
    for (const CheckedSection& section : check.sections) {
        QJsonArray components;
        for (const CheckedComponent& c : section.components) {
            components.append(QJsonObject{
                {QStringLiteral("component"), keyOf(c.component)},
                {QStringLiteral("file"), c.file.FileName},
                {QStringLiteral("version"), c.file.Version},
                {QStringLiteral("vupno"), int(c.file.Vupno)},
                {QStringLiteral("uploadStep"), c.uploadStep > 0 ? QJsonValue(c.uploadStep) : QJsonValue()},
            });
        }
        sections.append(QJsonObject{
            {QStringLiteral("section"), section.name},
            {QStringLiteral("usable"), section.usable},
            {QStringLiteral("checkedFor"), modelOrNull(section.checkedModel)},
            {QStringLiteral("components"), components},
        });
    }
    root.insert(QStringLiteral("sections"), sections);

    QJsonArray choices;
    for (const ModelChoice& choice : check.choices) {
        choices.append(QJsonObject{
            {QStringLiteral("model"), modelIdName(choice.model)},
            {QStringLiteral("section"), textOrNull(choice.section)},
        });
    }
    root.insert(QStringLiteral("choices"), choices);

    QJsonArray problems;
    for (const CheckProblem& problem : check.problems) {
        const bool hasComponent = problem.component >= 0 && problem.component < kComponentCount;
        problems.append(QJsonObject{
            {QStringLiteral("section"), textOrNull(problem.section)},
            {QStringLiteral("component"), hasComponent ? QJsonValue(keyOf(problem.component)) : QJsonValue()},
            {QStringLiteral("file"), textOrNull(problem.file)},
            {QStringLiteral("kind"), problemKindName(problem.kind)},
            {QStringLiteral("message"), problem.message},
        });
    }
    root.insert(QStringLiteral("problems"), problems);
    root.insert(QStringLiteral("exitCode"), check.exitCode());
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

QString sumsWriteText(const SumsWrite& write)
{
    if (!write.readable)
        return QStringLiteral("Folder %1 %2.\n").arg(write.folder, write.error);
    if (!write.error.isEmpty())
        return write.error + QLatin1Char('\n');
    if (!write.refusals.empty()) {
        QString out = QStringLiteral("Nothing written: SHA256SUMS is written only when every file the list file "
                                     "names is a readable file inside the folder.\n");
        for (const CheckProblem& problem : write.refusals)
            out += QStringLiteral("  ") + problemLine(problem) + QLatin1Char('\n');
        return out;
    }
    QByteArray lines;
    for (const SumsEntry& entry : write.written)
        lines += sumsLine(entry.digest, entry.name);
    return QStringLiteral("Wrote %1 for %2 %3:\n")
               .arg(write.path)
               .arg(write.written.size())
               .arg(write.written.size() == 1 ? QStringLiteral("file") : QStringLiteral("files"))
        + QString::fromUtf8(lines);
}
