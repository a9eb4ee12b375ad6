#include "update/firmwarefiles.h"

#include <QFile>
#include <QFileInfo>

#include <cstdint>
#include <new>

#ifdef Q_OS_LINUX
#include <sys/mman.h>
#endif

namespace {

// Asks for huge pages under a large fresh buffer: reading a firmware file of hundreds of
// megabytes into 4 KB pages costs more in page faults than the whole upload on loopback.
void adviseLargeBuffer(char* data, qint64 size)
{
#if defined(Q_OS_LINUX) && defined(MADV_HUGEPAGE)
    constexpr std::uintptr_t kHuge = 2 * 1024 * 1024;
    if (size < qint64(4 * kHuge))
        return;
    const auto at = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t start = (at + kHuge - 1) & ~(kHuge - 1);
    const std::uintptr_t end = (at + std::uintptr_t(size)) & ~(kHuge - 1);
    if (end > start)
        madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);  // a hint; failure is harmless
#else
    Q_UNUSED(data);
    Q_UNUSED(size);
#endif
}

} // namespace

bool readWholeFile(QIODevice& file, QByteArray* content)
{
    *content = QByteArray();
    if (!file.isReadable() || file.isSequential())
        return false;
    const qint64 size = file.size() - file.pos();
    if (size < 0)
        return false;
    try {
        content->resize(size);
    } catch (const std::bad_alloc&) {
        *content = QByteArray();
        return false;
    }
    char* out = content->data();
    adviseLargeBuffer(out, size);
    qint64 got = 0;
    while (got < size) {
        const qint64 n = file.read(out + got, size - got);
        if (n <= 0)
            break;
        got += n;
    }
    // A file that shrank or grew while being read would reach the camera cut or padded.
    char extra = 0;
    if (got != size || file.peek(&extra, 1) > 0) {
        *content = QByteArray();
        return false;
    }
    return true;
}

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
    // A FIFO, a device or a folder would block the read or never end it.
    if (!info.isFile())
        return fail(QStringLiteral("is not a regular file"));
    QFile file(canonical);
    auto content = std::make_shared<QByteArray>();
    if (!file.open(QIODevice::ReadOnly) || !readWholeFile(file, content.get()))
        return fail(file.errorString());
    m_files.insert(canonical, content);
    return content;
}

qint64 FirmwareFiles::totalBytes() const
{
    qint64 total = 0;
    for (const auto& bytes : m_files)
        total += bytes->size();
    return total;
}
