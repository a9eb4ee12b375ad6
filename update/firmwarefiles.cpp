#include "update/firmwarefiles.h"

#include <QFile>
#include <QFileInfo>

std::shared_ptr<const QByteArray> FirmwareFiles::file(const QString& path, QString* error)
{
    const auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return std::shared_ptr<const QByteArray>();
    };
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    if (canonical.isEmpty())
        return fail(QStringLiteral("does not exist"));
    if (const auto held = m_files.constFind(canonical); held != m_files.constEnd())
        return held.value();
    if (!info.isFile())
        return fail(QStringLiteral("is not a regular file"));

    QFile f(canonical);
    if (!f.open(QIODevice::ReadOnly))
        return fail(f.errorString());
    QByteArray bytes = f.readAll();
    // readAll gives no error of its own: a short read shows as a size that differs.
    if (f.error() != QFileDevice::NoError || bytes.size() != f.size())
        return fail(f.errorString());
    auto shared = std::make_shared<const QByteArray>(std::move(bytes));
    m_files.insert(canonical, shared);
    return shared;
}

qint64 FirmwareFiles::totalBytes() const
{
    qint64 total = 0;
    for (const auto& bytes : m_files)
        total += bytes->size();
    return total;
}
