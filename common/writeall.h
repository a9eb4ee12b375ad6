#ifndef KELVORA_COMMON_WRITEALL_H
#define KELVORA_COMMON_WRITEALL_H

// Writing to a file descriptor without Qt's buffering: for a terminal that must see a
// prompt at once, and for files that must reach the disk whole (the fleet's report and
// history).

#include <QByteArray>

namespace kelvora {

// Writes all of `bytes` to `fd`, going on after interruptions and short writes; false
// when it cannot (errno tells why).
bool writeAll(int fd, const QByteArray& bytes);

} // namespace kelvora

#endif
