#ifndef KELVORA_UPDATE_FIRMWAREFILES_H
#define KELVORA_UPDATE_FIRMWAREFILES_H

// The firmware files of a window's run or of a whole fleet, each read whole once: every
// upload of the same file shares its one copy in memory, however many cameras receive it.
// Each copy's SHA-256 is taken from the copy itself, so a digest judged is a digest of the
// bytes sent, whatever the file on disk has become since. Widget-free; for one thread.

#include <QByteArray>
#include <QHash>
#include <QString>

#include <memory>

class QIODevice;

// Reads a file (open, at its start, not sequential) whole into *content, in one buffer
// of exactly its size. False, with *content empty, when it cannot be read whole, changes
// size while being read, or the buffer cannot be allocated.
bool readWholeFile(QIODevice& file, QByteArray* content);

class FirmwareFiles
{
public:
    // The whole content of the regular file at `path` (a symbolic link to one is followed).
    // The first call reads it; later calls for the same file, by whatever path, return the
    // same bytes for as long as this cache lives. Null, with *error set when given, for
    // anything that is not a regular file that can be read whole: a missing file, a folder,
    // a FIFO or device (never opened, so nothing blocks). A failure is not kept: the next
    // call tries again.
    // With `sha256` given, it gets the SHA-256 (32 bytes) of the very copy returned: hashed
    // the first time any caller asks, then kept beside the bytes.
    std::shared_ptr<const QByteArray> file(const QString& path, QString* error = nullptr, QByteArray* sha256 = nullptr);

    // The SHA-256 of the copy file() gives for `path`, reading the file first when it is not
    // held yet. Empty, with *error set when given, when file() would give null.
    QByteArray sha256(const QString& path, QString* error = nullptr);
    // The same for a file already held; empty when it is not (nothing is read).
    QByteArray heldSha256(const QString& path);

    // Files held, and their bytes added up.
    int count() const { return int(m_files.size()); }
    qint64 totalBytes() const;

private:
    struct Held {
        std::shared_ptr<const QByteArray> bytes;
        QByteArray sha256;  // empty until first asked for
    };
    static const QByteArray& digestOf(Held& held);

    QHash<QString, Held> m_files;  // by canonical path
};

#endif
