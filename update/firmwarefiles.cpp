#include "update/firmwarefiles.h"

#include "common/sha256.h"

#include <QFile>
#include <QFileInfo>


#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <new>

#ifdef Q_OS_LINUX
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/sendfile.h>
#include <unistd.h>
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

// ---- FirmwareCopy ----

FirmwareCopy::Holding FirmwareCopy::defaultHolding()
{
    static const Holding holding = qgetenv("KELVORA_ZEROCOPY") == "off" ? Holding::Plain : Holding::Sealed;
    return holding;
}

FirmwareCopy::~FirmwareCopy()
{
#ifdef Q_OS_LINUX
    if (m_map)
        ::munmap(m_map, std::size_t(m_mapped));
    if (m_fd >= 0)
        ::close(m_fd);
#endif
}

std::shared_ptr<FirmwareCopy> FirmwareCopy::sealed(int fd, qint64 size)
{
#if defined(Q_OS_LINUX) && defined(MFD_ALLOW_SEALING)
    std::shared_ptr<FirmwareCopy> copy(new FirmwareCopy);
    copy->m_fd = fd;
    // Sealed before anything reads it: from here on neither this process nor any other
    // can change, cut or extend the bytes, so the kernel may send the pages themselves.
    if (::fcntl(fd, F_ADD_SEALS, F_SEAL_WRITE | F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL) != 0)
        return nullptr;
    if (size > 0) {
        // Mapped whole up front (a few percent of the time it took to fill): the copy then
        // counts in the process's resident memory like any other, so what the soak and the
        // bench see is what it holds, and neither its digest nor the plain write path waits
        // on page faults.
        void* map = ::mmap(nullptr, std::size_t(size), PROT_READ, MAP_SHARED | MAP_POPULATE, fd, 0);
        if (map == MAP_FAILED)
            return nullptr;
        copy->m_map = map;
        copy->m_mapped = size;
        copy->m_bytes = QByteArray::fromRawData(static_cast<const char*>(map), qsizetype(size));
    }
    return copy;
#else
    Q_UNUSED(fd);
    Q_UNUSED(size);
    return nullptr;
#endif
}

std::shared_ptr<const FirmwareCopy> FirmwareCopy::read(QFile& file, Holding holding, QString* error)
{
#if defined(Q_OS_LINUX) && defined(MFD_ALLOW_SEALING)
    const qint64 size = file.size();
    const int in = file.handle();
    const int fd = holding == Holding::Sealed && in >= 0 && size > 0
        ? ::memfd_create("kelvora-firmware", MFD_CLOEXEC | MFD_ALLOW_SEALING)
        : -1;
    if (fd >= 0) {
        // The kernel copies the file into the memory file: no buffer of ours in between.
        bool refused = ::ftruncate(fd, size) != 0;
        off_t at = 0;
        while (!refused && at < size) {
            const ssize_t n = ::sendfile(fd, in, &at, std::size_t(size - at));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                refused = n < 0;
                break;
            }
        }
        char extra = 0;
        if (!refused && (at != size || ::pread(in, &extra, 1, size) != 0)) {
            // A file that shrank or grew while being read would reach the camera cut or padded.
            ::close(fd);
            *error = QStringLiteral("changed size while being read");
            return nullptr;
        }
        if (!refused) {
            if (std::shared_ptr<FirmwareCopy> copy = sealed(fd, size))
                return copy;
        } else {
            ::close(fd);
        }
        // Whatever refused the sealed copy, the plain one below carries the same bytes.
        file.seek(0);
    }
#endif
    std::shared_ptr<FirmwareCopy> copy(new FirmwareCopy);
    if (!readWholeFile(file, &copy->m_bytes)) {
        *error = file.error() != QFileDevice::NoError ? file.errorString() : QStringLiteral("changed size while being read");
        return nullptr;
    }
    return copy;
}

std::shared_ptr<const FirmwareCopy> FirmwareCopy::fromBytes(const QByteArray& bytes, Holding holding)
{
#if defined(Q_OS_LINUX) && defined(MFD_ALLOW_SEALING)
    const int fd = holding == Holding::Sealed && !bytes.isEmpty()
        ? ::memfd_create("kelvora-firmware", MFD_CLOEXEC | MFD_ALLOW_SEALING)
        : -1;
    if (fd >= 0) {
        qsizetype at = 0;
        while (at < bytes.size()) {
            const ssize_t n = ::write(fd, bytes.constData() + at, std::size_t(bytes.size() - at));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            at += n;
        }
        if (at == bytes.size()) {
            if (std::shared_ptr<FirmwareCopy> copy = sealed(fd, bytes.size()))
                return copy;
        } else {
            ::close(fd);
        }
    }
#endif
    std::shared_ptr<FirmwareCopy> copy(new FirmwareCopy);
    copy->m_bytes = bytes;
    return copy;
}

QByteArray FirmwareCopy::sha256() const
{
    if (m_sha256.isEmpty())
        m_sha256 = kelvora::sha256(m_bytes);
    return m_sha256;
}

// ---- FirmwareFiles ----

// Every claim on a file shares one of these; the last to go lets the copy go with it.
struct FirmwareFiles::Claimed {
    Copy kept;
};

FirmwareFiles::FirmwareFiles()
    : m_holding(FirmwareCopy::defaultHolding())
{
}

FirmwareFiles::~FirmwareFiles() = default;

FirmwareFiles::Copy FirmwareFiles::copyOf(const QString& path, QString* error, QByteArray* sha256, bool forJudgement)
{
    const auto fail = [error, sha256](const QString& why) {
        if (error)
            *error = why;
        if (sha256)
            sha256->clear();
        return Copy();
    };
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    if (canonical.isEmpty())
        return fail(QStringLiteral("does not exist"));
    forgetUnused();
    Entry& entry = m_entries[canonical];
    Copy copy = entry.copy.lock();
    if (!copy) {
        // A FIFO, a device or a folder would block the read or never end it.
        if (!info.isFile())
            return fail(QStringLiteral("is not a regular file"));
        QFile file(canonical);
        QString why;
        if (!file.open(QIODevice::ReadOnly))
            return fail(file.errorString());
        copy = FirmwareCopy::read(file, m_holding, &why);
        if (!copy)
            return fail(why);
        entry.copy = copy;
        if (const std::shared_ptr<Claimed> claimed = entry.claims.lock())
            claimed->kept = copy;
        else if (forJudgement)
            entry.judged = copy;
    }
    // An upload holds the copy itself from here on.
    if (!forJudgement)
        entry.judged.reset();
    if (sha256)
        *sha256 = copy->sha256();
    return copy;
}

FirmwareFiles::Copy FirmwareFiles::file(const QString& path, QString* error, QByteArray* sha256)
{
    return copyOf(path, error, sha256, false);
}

FirmwareFiles::Copy FirmwareFiles::held(const QString& path)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    const auto entry = canonical.isEmpty() ? m_entries.constEnd() : m_entries.constFind(canonical);
    return entry == m_entries.constEnd() ? Copy() : entry->copy.lock();
}

QByteArray FirmwareFiles::sha256(const QString& path, QString* error)
{
    QByteArray digest;
    copyOf(path, error, &digest, true);
    return digest;
}

QByteArray FirmwareFiles::heldSha256(const QString& path)
{
    const Copy copy = held(path);
    return copy ? copy->sha256() : QByteArray();
}

FirmwareFiles::Claim FirmwareFiles::claim(const QString& path)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    if (canonical.isEmpty())
        return nullptr;
    forgetUnused();
    Entry& entry = m_entries[canonical];
    std::shared_ptr<Claimed> claimed = entry.claims.lock();
    if (!claimed) {
        claimed = std::make_shared<Claimed>();
        claimed->kept = entry.copy.lock();
        entry.claims = claimed;
    }
    entry.judged.reset();
    return claimed;
}

void FirmwareFiles::forgetUnused()
{
    for (auto entry = m_entries.begin(); entry != m_entries.end();) {
        if (entry->copy.expired() && entry->claims.expired())
            entry = m_entries.erase(entry);
        else
            ++entry;
    }
}

int FirmwareFiles::count() const
{
    int held = 0;
    for (const Entry& entry : m_entries)
        held += entry.copy.expired() ? 0 : 1;
    return held;
}

qint64 FirmwareFiles::totalBytes() const
{
    qint64 total = 0;
    for (const Entry& entry : m_entries) {
        if (const Copy copy = entry.copy.lock())
            total += copy->size();
    }
    return total;
}
