#ifndef KELVORA_UPDATE_FIRMWAREFILES_H
#define KELVORA_UPDATE_FIRMWAREFILES_H

// The firmware files of the runs going on, each read whole once: every upload of the same
// file shares its one copy in memory, however many cameras receive it.

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
    // The bytes of the regular file at `path`, read on first use. Null, with *error set
    // for the debug log, when it is not a regular file or cannot be read whole.
    std::shared_ptr<const QByteArray> file(const QString& path, QString* error = nullptr);

    // Lets go of the files no run holds any more.
    void release();

private:
    QHash<QString, std::weak_ptr<const QByteArray>> m_files;  // by canonical path
};

#endif
