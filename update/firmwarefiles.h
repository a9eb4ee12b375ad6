#ifndef KELVORA_UPDATE_FIRMWAREFILES_H
#define KELVORA_UPDATE_FIRMWAREFILES_H

// The firmware files of a run of many cameras, each read once: every upload of the same
// file shares one copy of its bytes. Widget-free; for one thread.

#include <QByteArray>
#include <QHash>
#include <QString>

#include <memory>

class FirmwareFiles
{
public:
    // The whole content of the regular file at `path` (a symbolic link to one is followed).
    // The first call reads it; later calls for the same file, by whatever path, return the
    // same bytes. Returns null and sets *error (when given) for anything that is not a
    // readable regular file: a missing file, a folder, a FIFO or device (never opened, so
    // nothing blocks), a file that cannot be read. A failure is not kept: the next call
    // tries again.
    std::shared_ptr<const QByteArray> file(const QString& path, QString* error = nullptr);

    // Files held, and their bytes added up.
    int count() const { return int(m_files.size()); }
    qint64 totalBytes() const;

private:
    QHash<QString, std::shared_ptr<const QByteArray>> m_files;  // by canonical path
};

#endif
