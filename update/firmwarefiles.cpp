#include "update/firmwarefiles.h"

#include <QCryptographicHash>
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

std::shared_ptr<const QByteArray> FirmwareFiles::file(const QString& path, QString* error, QByteArray* sha256)
{
    const auto fail = [error, sha256](const QString& why) {
        if (error)
            *error = why;
        if (sha256)
            sha256->clear();
        return std::shared_ptr<const QByteArray>();
    };
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    if (canonical.isEmpty())
        return fail(QStringLiteral("does not exist"));
    auto held = m_files.find(canonical);
    if (held == m_files.end()) {
        // A FIFO, a device or a folder would block the read or never end it.
        if (!info.isFile())
            return fail(QStringLiteral("is not a regular file"));
        QFile file(canonical);
        auto content = std::make_shared<QByteArray>();
        if (!file.open(QIODevice::ReadOnly) || !readWholeFile(file, content.get()))
            return fail(file.errorString());
        held = m_files.insert(canonical, {std::move(content), QByteArray()});
    }
    if (sha256)
        *sha256 = digestOf(held.value());
    return held->bytes;
}

QByteArray FirmwareFiles::sha256(const QString& path, QString* error)
{
    QByteArray digest;
    file(path, error, &digest);
    return digest;
}

QByteArray FirmwareFiles::heldSha256(const QString& path)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    const auto held = canonical.isEmpty() ? m_files.end() : m_files.find(canonical);
    return held == m_files.end() ? QByteArray() : digestOf(held.value());
}

const QByteArray& FirmwareFiles::digestOf(Held& held)
{
    if (held.sha256.isEmpty())
        held.sha256 = QCryptographicHash::hash(*held.bytes, QCryptographicHash::Sha256);
    return held.sha256;
}

qint64 FirmwareFiles::totalBytes() const
{
    qint64 total = 0;
    for (const Held& held : m_files)
        total += held.bytes->size();
    return total;
}
