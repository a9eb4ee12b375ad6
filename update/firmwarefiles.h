#ifndef KELVORA_UPDATE_FIRMWAREFILES_H
#define KELVORA_UPDATE_FIRMWAREFILES_H

// The firmware files of a window's run or of a whole fleet, each read whole once: every
// upload of the same file shares its one copy in memory, however many cameras receive it.
// Widget-free; for one thread.

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
    std::shared_ptr<const QByteArray> file(const QString& path, QString* error = nullptr);

    // Files held, and their bytes added up.
    int count() const { return int(m_files.size()); }
    qint64 totalBytes() const;

private:
    QHash<QString, std::shared_ptr<const QByteArray>> m_files;  // by canonical path
};

#endif
