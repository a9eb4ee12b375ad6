#ifndef KELVORA_UPDATE_FIRMWAREFILES_H
#define KELVORA_UPDATE_FIRMWAREFILES_H

// The firmware files of a window's run or of a whole fleet, each read whole into one copy
// that every upload of it shares, however many cameras receive it at once. A copy lives
// only while something needs it: an upload sending it, a claim (a run or a fleet that still
// plans to send the file), or, when it was read only to be judged, until an upload or a
// claim takes it over. A file no one needs any more is read again, and hashed again, when
// it is needed again. Each copy's SHA-256 is taken from the copy itself and lives and dies
// with it, so a digest judged is a digest of the bytes sent, whatever the file on disk has
// become since. Widget-free; for one thread (a copy's bytes may be read from any).

#include <QByteArray>
#include <QHash>
#include <QString>

#include <memory>

class QFile;
class QIODevice;

// Reads a file (open, at its start, not sequential) whole into *content, in one buffer
// of exactly its size. False, with *content empty, when it cannot be read whole, changes
// size while being read, or the buffer cannot be allocated.
bool readWholeFile(QIODevice& file, QByteArray* content);

// One firmware file's bytes, never changed once made. Sealed: in a memory file the system
// has sealed against every write, shrink and growth, which uploads hand to the kernel with
// sendfile(2), so the bytes go to every camera without being copied by the tool, and no
// one can change bytes already judged while they are on their way. Plain: in ordinary
// memory, written to the socket like any other bytes; the copy falls back to it wherever a
// sealed one cannot be made (another system, an old kernel, a filter that refuses the calls).
class FirmwareCopy
{
public:
    enum class Holding { Sealed, Plain };
    // Sealed, unless the environment says KELVORA_ZEROCOPY=off: the way to run the tool (or
    // its tests) with the plain copies and writes it used before sealed copies.
    static Holding defaultHolding();

    // The whole of `file` (open for reading, a regular file); null, with *error set, when
    // it cannot be read whole or changes size while being read.
    static std::shared_ptr<const FirmwareCopy> read(QFile& file, Holding holding, QString* error);
    static std::shared_ptr<const FirmwareCopy> fromBytes(const QByteArray& bytes, Holding holding);

    ~FirmwareCopy();
    FirmwareCopy(const FirmwareCopy&) = delete;
    FirmwareCopy& operator=(const FirmwareCopy&) = delete;

    // The bytes, valid while the copy lives; a sealed copy's are its memory file, mapped
    // read-only.
    const QByteArray& bytes() const { return m_bytes; }
    qint64 size() const { return m_bytes.size(); }
    // The sealed memory file, -1 for a plain copy.
    int sealedDescriptor() const { return m_fd; }
    // Its SHA-256 (32 bytes): taken on the first call, then kept. From one thread only.
    QByteArray sha256() const;

private:
    FirmwareCopy() = default;
    static std::shared_ptr<FirmwareCopy> sealed(int fd, qint64 size);

    int m_fd = -1;
    void* m_map = nullptr;
    qint64 m_mapped = 0;
    QByteArray m_bytes;
    mutable QByteArray m_sha256;
};

class FirmwareFiles
{
public:
    using Copy = std::shared_ptr<const FirmwareCopy>;
    // While a claim on a file lives, its copy, once read, is kept even when no upload holds it.
    using Claim = std::shared_ptr<void>;

    FirmwareFiles();
    ~FirmwareFiles();
    FirmwareFiles(const FirmwareFiles&) = delete;
    FirmwareFiles& operator=(const FirmwareFiles&) = delete;

    // How copies read from now on are held (FirmwareCopy::defaultHolding() unless set).
    void setHolding(FirmwareCopy::Holding holding) { m_holding = holding; }

    // The copy of the regular file at `path` (a symbolic link to one is followed), for an
    // upload: read when no copy of it is held, otherwise the one held, by whatever path it
    // was asked for. The caller holds it as long as it needs it. Null, with *error set when
    // given, for anything that is not a regular file that can be read whole: a missing file,
    // a folder, a FIFO or device (never opened, so nothing blocks). A failure is not kept:
    // the next call tries again. With `sha256` given, it gets the copy's SHA-256.
    Copy file(const QString& path, QString* error = nullptr, QByteArray* sha256 = nullptr);
    // The copy held for `path`; null when none is (nothing is read).
    Copy held(const QString& path);

    // The SHA-256 of the copy file() would give, for a judgement before any upload: the file
    // is read when no copy of it is held, and that copy is then kept until an upload or a
    // claim takes it, so that what was judged is what is sent. Empty, with *error set when
    // given, when file() would give null.
    QByteArray sha256(const QString& path, QString* error = nullptr);
    // The same for a file already held; empty when it is not (nothing is read).
    QByteArray heldSha256(const QString& path);

    // Keeps the file's copy, once read, for as long as the returned claim (or another claim
    // on the file) lives. Reads nothing. Null for a path that names no file.
    Claim claim(const QString& path);

    // Copies held now, and their bytes added up.
    int count() const;
    qint64 totalBytes() const;

private:
    struct Claimed;
    struct Entry {
        std::weak_ptr<const FirmwareCopy> copy;
        std::weak_ptr<Claimed> claims;
        Copy judged;  // read only to be judged: kept until an upload or a claim takes it
    };
    Copy copyOf(const QString& path, QString* error, QByteArray* sha256, bool forJudgement);
    void forgetUnused();

    FirmwareCopy::Holding m_holding;
    QHash<QString, Entry> m_entries;  // by canonical path
};

#endif
