#ifndef KELVORA_COMMON_REPLACEFILE_H
#define KELVORA_COMMON_REPLACEFILE_H

// The one way the tool replaces a file: the bytes go to a temporary file beside it, are
// flushed to the disk, and the temporary file is renamed over the old one, the folder
// flushed after. After a crash, kill -9 or a power loss the file is the old one or the new
// one whole, never a mix. Reports, journals and SHA256SUMS are written so.

#include <QByteArray>
#include <QString>

namespace kelvora {

enum class FileAccess {
    Private,  // 0600: reports, which name cameras and what they were sent
    Shared,   // 0666 less the umask, as any new file: a firmware folder's SHA256SUMS
};

// False with *error (the system's reason) when the file could not be replaced; it is then
// as it was, and no temporary file is left.
bool replaceFileWhole(const QString& path, const QByteArray& bytes, FileAccess access, QString* error);

} // namespace kelvora

#endif
